// How many listers a scan that chooses keeps: what it does with what it measured.
#include "scan/lister_count.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;

// A span of 100 ms in which `listers` listers were busy listing, each `waiting` of the time off the
// processors, and listed `entries`.
ListingPeriod span(std::size_t listers, double waiting, std::uint64_t entries) {
  ListingPeriod period;
  period.elapsed = milliseconds(100);
  period.listing = milliseconds(100) * static_cast<int>(listers);
  period.onProcessor =
      std::chrono::duration_cast<std::chrono::nanoseconds>(period.listing * (1 - waiting));
  period.folders = 100 * listers;
  period.entries = entries;
  return period;
}

// Listings that wait on a file server: the count grows in quick steps, then in steps that must
// pay; a step that does not is taken halfway back, and held.
TEST(ListerCount, GrowsWhileListingsWaitAndEachStepPays) {
  ListerCount count = countListers(0, 2, 1000);
  ASSERT_EQ(count.limit, 2u);
  adjustListerCount(count, span(2, 0.99, 1000));
  EXPECT_EQ(count.limit, 8u);
  adjustListerCount(count, span(8, 0.99, 4000));
  EXPECT_EQ(count.limit, 32u);
  adjustListerCount(count, span(32, 0.99, 16000));
  EXPECT_EQ(count.limit, 64u);
  adjustListerCount(count, span(64, 0.99, 30000));
  EXPECT_EQ(count.limit, 128u);
  adjustListerCount(count, span(128, 0.99, 31000));  // barely faster than with 64
  EXPECT_EQ(count.limit, 64u);
  adjustListerCount(count, span(64, 0.99, 30000));
  EXPECT_EQ(count.limit, 64u);
}

// Listings that run on the processors (a warm cache): more listers would only take turns, so the
// count goes back to one per processor. Listings that wait while the processors are busy anyway
// get no more listers either.
TEST(ListerCount, ShrinksWhileListingsRunAndGrowsNotWhileProcessorsAreBusy) {
  ListerCount count = countListers(0, 2, 1000);
  count.limit = 16;
  adjustListerCount(count, span(16, 0.1, 100000));
  EXPECT_EQ(count.limit, 8u);
  adjustListerCount(count, span(8, 0.7, 100000));  // waiting, but for the two processors
  EXPECT_EQ(count.limit, 8u);
  adjustListerCount(count, span(8, 0.2, 100000));
  adjustListerCount(count, span(4, 0.2, 100000));
  adjustListerCount(count, span(2, 0.2, 100000));
  EXPECT_EQ(count.limit, 2u);
}

// A fixed number is kept whatever the listings do; no more than the handles allow.
TEST(ListerCount, AGivenNumberStaysAndTheHandlesBoundIt) {
  ListerCount fixed = countListers(16, 2, 1000);
  adjustListerCount(fixed, span(16, 0.99, 100));
  EXPECT_EQ(fixed.limit, 16u);
  EXPECT_EQ(countListers(64, 2, 10).limit, 10u);
  ListerCount chooses = countListers(0, 2, 10);
  adjustListerCount(chooses, span(2, 0.99, 1000));
  adjustListerCount(chooses, span(8, 0.99, 4000));
  EXPECT_EQ(chooses.limit, 10u);
}

}  // namespace
