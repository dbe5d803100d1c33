// How many folders a scan lists at once. Given a number, that many. Choosing for itself, the scan
// starts at one lister per processor and follows what the listers themselves wait for: while they
// spend most of their listing time off the processors (waiting on a disk or a file server) and the
// processors are not the limit, more listings in flight keep the storage busier, so the count
// grows for as long as each step still lists faster; while they mostly run, more listers would
// only take turns on the processors, so it halves back towards one per processor. Pure functions
// over values: the scan measures, this decides.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// What the listers did between two looks.
struct ListingPeriod {
  std::chrono::nanoseconds elapsed{0};
  // Summed over the listers: the time they spent listing, not waiting for a folder to list.
  std::chrono::nanoseconds listing{0};
  // Summed over the listers: the processor time they used.
  std::chrono::nanoseconds onProcessor{0};
  std::uint64_t folders = 0;  // listed in the period
  std::uint64_t entries = 0;  // in those folders
};

struct ListerCount {
  bool chooses = false;
  std::size_t processors = 1;
  std::size_t most = 1;   // never more than this
  std::size_t limit = 1;  // listings in flight allowed now
  // The looks since the last decision, summed until they span a few listings.
  ListingPeriod pending;
  // The last step up, so that the next decision can tell whether it paid.
  bool grew = false;
  std::size_t limitBeforeGrowth = 0;
  double rateBeforeGrowth = 0;  // entries per second
  // Decisions left before another step up is tried, after one that did not pay.
  std::size_t holdDecisions = 0;
};

// With `workers` 0 the scan chooses; `mostReaders` is what the scan's handles allow at once.
ListerCount countListers(std::size_t workers, std::size_t processors, std::size_t mostReaders);

// Takes in what the listers did since the last look, and decides the limit once the looks span
// long enough to tell.
void adjustListerCount(ListerCount& count, const ListingPeriod& period);
