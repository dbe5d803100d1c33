#include "scan/lister_count.h"

#include <algorithm>

namespace {

// Listers most of whose listing time is off the processors wait on the storage.
constexpr double kWaitingShareForMore = 0.6;
// Listers that run most of their listing time wait on nothing but the processors.
constexpr double kWaitingShareForFewer = 0.3;
// Processors busy beyond this share are the limit themselves.
constexpr double kBusyProcessorsShare = 0.8;
// A doubling pays when it lists at least this much faster.
constexpr double kGainThatPays = 1.2;
// After a doubling that did not pay, the count stays for this many looks before it tries again:
// the storage that did not reward it is likely not to for a while.
constexpr std::size_t kLooksToHold = 25;
// Listers with so little time listing in a period say nothing reliable about it.
constexpr double kLeastListingShare = 0.5;
// Whatever the storage, a scan keeps no more listers than this (each holds a thread and a buffer).
constexpr std::size_t kMostListers = 256;

double seconds(std::chrono::nanoseconds duration) {
  return std::chrono::duration<double>(duration).count();
}

void halveTowardsProcessors(ListerCount& count) {
  count.limit = std::max(count.processors, count.limit / 2);
  count.grew = false;
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
  if (!count.chooses || period.elapsed.count() <= 0) return;
  double listing = seconds(period.listing);
  if (listing < kLeastListingShare * seconds(period.elapsed)) return;
  double waitingShare = 1 - std::min(1.0, seconds(period.onProcessor) / listing);
  double busyProcessors = seconds(period.onProcessor) /
                          (seconds(period.elapsed) * static_cast<double>(count.processors));
  double rate = static_cast<double>(period.entries) / seconds(period.elapsed);
  if (count.holdLooks > 0) --count.holdLooks;
  if (waitingShare < kWaitingShareForFewer || busyProcessors > kBusyProcessorsShare) {
    if (count.limit > count.processors) halveTowardsProcessors(count);
    return;
  }
  if (count.grew && rate < kGainThatPays * count.rateBeforeGrowth) {
    // The last doubling did not pay: back to where it was, and stay there a while.
    count.limit = count.limitBeforeGrowth;
    count.grew = false;
    count.holdLooks = kLooksToHold;
    return;
  }
  count.grew = false;
  bool listersAllBusy = listing >= 0.8 * seconds(period.elapsed) * static_cast<double>(count.limit);
  if (waitingShare > kWaitingShareForMore && listersAllBusy && count.holdLooks == 0 &&
      count.limit < count.most) {
    count.grew = true;
    count.limitBeforeGrowth = count.limit;
    count.rateBeforeGrowth = rate;
    count.limit = std::min(count.most, count.limit * 2);
  }
}
