#include "scan/lister_count.h"

#include <algorithm>

namespace {

// Listers that run most of their listing time leave nothing for more listers to do but take turns:
// the count halves back towards one per processor.
constexpr double kWaitingShareForFewer = 0.25;
// Processors this busy are the limit themselves: the count does not step up.
constexpr double kBusyProcessorsForNoMore = 0.9;
// Listers that wait on the storage this much of their listing time may gain from more in flight:
// the count doubles, and the next decision judges whether that paid.
constexpr double kWaitingShareForMore = 0.3;
// Listers that wait this much are far from keeping the storage busy (a file server): the first
// steps up are quick ones, four times where that stays within bounds, taken one after the other
// without being judged, and even while some listers wait for a folder to list (the first folders
// are few and large), up to this many listers a processor and at most kQuickStepsUpTo. A scan of a
// file server is short, and a slow start would cost much of it; listers that wait cost little.
constexpr double kWaitingShareForQuickSteps = 0.9;
constexpr std::size_t kQuickStepsUpToPerProcessor = 32;
constexpr std::size_t kQuickStepsUpTo = 64;
// A step up pays when the listers list at least this much faster after it.
constexpr double kGainThatPays = 1.15;
// After a step up that did not pay, the count stays for this many decisions before it steps up
// again: the storage that did not reward it is likely not to for a while.
constexpr std::size_t kDecisionsToHold = 5;
// Looks are summed until they span this long for a large step, and this long, and this many mean
// listings, for any other decision: folders differ so much that a rate over less says little.
constexpr std::chrono::milliseconds kQuickSpan(20);
constexpr std::chrono::milliseconds kJudgedSpan(100);
constexpr int kListingsPerJudgedSpan = 3;
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

// What a span says of the listers.
struct SpanShares {
  bool reliable = false;
  double waiting = 0;         // of their listing time, off the processors
  double busyProcessors = 0;  // of the processors' time, used by them
  double rate = 0;            // entries listed per second
  bool allBusy = false;       // every lister allowed was listing, nearly all the time
};

SpanShares sharesOf(const ListerCount& count, const ListingPeriod& span) {
  SpanShares shares;
  double elapsed = seconds(span.elapsed);
  double listing = seconds(span.listing);
  double onProcessor = seconds(span.onProcessor);
  shares.reliable = listing >= kLeastListingShare * elapsed;
  if (!shares.reliable) return shares;
  shares.waiting = 1 - std::min(1.0, onProcessor / listing);
  shares.busyProcessors = onProcessor / (elapsed * static_cast<double>(count.processors));
  shares.rate = static_cast<double>(span.entries) / elapsed;
  shares.allBusy = listing >= 0.8 * elapsed * static_cast<double>(count.limit);
  return shares;
}

bool judgedSpanEnds(const ListingPeriod& span) {
  auto meanListing =
      span.listing / static_cast<std::int64_t>(std::max<std::uint64_t>(span.folders, 1));
  return span.elapsed >= kJudgedSpan && span.elapsed >= kListingsPerJudgedSpan * meanListing;
}

void stepUp(ListerCount& count, const SpanShares& shares, std::size_t times, bool judged) {
  count.grew = judged;
  count.limitBeforeGrowth = count.limit;
  count.rateBeforeGrowth = shares.rate;
  count.limit = std::min(count.most, count.limit * times);
}

// Decides on the span summed so far; false to go on summing it.
bool decide(ListerCount& count, const ListingPeriod& span) {
  SpanShares shares = sharesOf(count, span);
  bool processorsSpare = shares.busyProcessors < kBusyProcessorsForNoMore;
  std::size_t quickStepsUpTo =
      std::min({kQuickStepsUpTo, kQuickStepsUpToPerProcessor * count.processors, count.most});
  if (shares.reliable && !count.grew && shares.waiting > kWaitingShareForQuickSteps &&
      processorsSpare && count.limit < quickStepsUpTo) {
    stepUp(count, shares, count.limit * 4 <= quickStepsUpTo ? 4 : 2, false);
    count.limit = std::min(count.limit, quickStepsUpTo);
    return true;
  }
  if (!judgedSpanEnds(span)) return false;
  if (!shares.reliable) return true;
  if (count.holdDecisions > 0) --count.holdDecisions;
  if (shares.waiting < kWaitingShareForFewer) {
    count.limit = std::max(count.processors, count.limit / 2);
    count.grew = false;
    count.holdDecisions = 0;
    return true;
  }
  if (count.grew && shares.rate < kGainThatPays * count.rateBeforeGrowth) {
    // The last step did not pay: halfway back, and stay there a while.
    count.limit = std::max(count.limitBeforeGrowth, count.limit / 2);
    count.grew = false;
    count.holdDecisions = kDecisionsToHold;
    return true;
  }
  count.grew = false;
  if (shares.waiting > kWaitingShareForMore && shares.allBusy && processorsSpare &&
      count.holdDecisions == 0 && count.limit < count.most) {
    stepUp(count, shares, 2, true);
  }
  return true;
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
  if (count.pending.elapsed < kQuickSpan || !decide(count, count.pending)) return;
  count.pending = ListingPeriod();
}
