#include "scan/lister_count.h"

#include <algorithm>

namespace {

// Listers most of whose listing time is off the processors wait on the storage.
constexpr double kWaitingShareForMore = 0.6;
// Waiting this much, the storage is far from busy (a file server): the first steps up are larger,
// and taken one after the other, even while some listers wait for folders to list (the first,
// large folders), without waiting to see whether each paid, up to this many listers a processor
// and at most kMostLargeSteps in all. A scan of a file server is short, and a slow start would cost
// much of it; listers that wait cost little.
constexpr double kWaitingShareForLargeSteps = 0.9;
constexpr std::size_t kLargeStepsUpToPerProcessor = 16;
constexpr std::size_t kLargeStepsUpTo = 64;
// Listers that run most of their listing time wait on nothing but the processors.
constexpr double kWaitingShareForFewer = 0.3;
// Processors busy beyond this share are the limit themselves.
constexpr double kBusyProcessorsShare = 0.8;
// A step up pays when it lists at least this much faster.
constexpr double kGainThatPays = 1.2;
// After a step up that did not pay, the count stays for this many decisions before it tries
// again: the storage that did not reward it is likely not to for a while.
constexpr std::size_t kDecisionsToHold = 20;
// A decision spans at least this long; one that judges a step up, also this many times a listing's
// mean duration, so that listings started by the step have finished and count.
constexpr std::chrono::milliseconds kShortestDecisionSpan(20);
constexpr int kListingsPerDecisionSpan = 3;
// Listers that spent less of a span listing than this share of it say nothing reliable about it.
constexpr double kLeastListingShare = 0.5;
// Whatever the storage, a scan keeps no more listers than this (each holds a thread and a buffer).
constexpr std::size_t kMostListers = 256;

double seconds(std::chrono::nanoseconds duration) {
  return std::chrono::duration<double>(duration).count();
}

void add(ListingPeriod& into, const ListingPeriod& period) {
  into.elapsed += period.elapsed;
  into.listing += period.listing;
  into.onProcessor += period.onProcessor;
  into.folders += period.folders;
  into.entries += period.entries;
}

bool spansLongEnough(const ListerCount& count, const ListingPeriod& span) {
  if (span.elapsed < kShortestDecisionSpan) return false;
  if (!count.grew) return true;
  auto meanListing =
      span.listing / static_cast<std::int64_t>(std::max<std::uint64_t>(span.folders, 1));
  return span.elapsed >= kListingsPerDecisionSpan * meanListing;
}

void decide(ListerCount& count, const ListingPeriod& span) {
  double elapsed = seconds(span.elapsed);
  double listing = seconds(span.listing);
  if (listing < kLeastListingShare * elapsed) return;
  double waitingShare = 1 - std::min(1.0, seconds(span.onProcessor) / listing);
  double busyProcessors =
      seconds(span.onProcessor) / (elapsed * static_cast<double>(count.processors));
  double rate = static_cast<double>(span.entries) / elapsed;
  if (count.holdDecisions > 0) --count.holdDecisions;
  if (waitingShare < kWaitingShareForFewer || busyProcessors > kBusyProcessorsShare) {
    count.limit = std::max(count.processors, count.limit / 2);
    count.grew = false;
    return;
  }
  if (count.grew && rate < kGainThatPays * count.rateBeforeGrowth) {
    // The last step did not pay: halfway back, and stay there a while.
    count.limit = std::max(count.limitBeforeGrowth, count.limit / 2);
    count.grew = false;
    count.holdDecisions = kDecisionsToHold;
    return;
  }
  count.grew = false;
  if (count.holdDecisions > 0 || count.limit >= count.most) return;
  bool large =
      waitingShare > kWaitingShareForLargeSteps &&
      count.limit < std::min(kLargeStepsUpTo, kLargeStepsUpToPerProcessor * count.processors);
  bool listersAllBusy = listing >= 0.8 * elapsed * static_cast<double>(count.limit);
  if (large || (waitingShare > kWaitingShareForMore && listersAllBusy)) {
    count.grew = !large;
    count.limitBeforeGrowth = count.limit;
    count.rateBeforeGrowth = rate;
    count.limit = std::min(count.most, count.limit * (large ? 4 : 2));
  }
}

}  // namespace

ListerCount countListers(std::size_t workers, std::size_t processors, std::size_t mostReaders) {
  ListerCount count;
  count.chooses = workers == 0;
  count.processors = std::max<std::size_t>(processors, 1);
  count.most = std::max<std::size_t>(
      std::min(count.chooses ? std::max(kMostListers, count.processors) : workers, mostReaders), 1);
  count.limit = count.chooses ? std::min(count.processors, count.most) : count.most;
  return count;
}

void adjustListerCount(ListerCount& count, const ListingPeriod& period) {
  if (!count.chooses) return;
  add(count.pending, period);
  if (!spansLongEnough(count, count.pending)) return;
  decide(count, count.pending);
  count.pending = ListingPeriod();
}
