// How many listers a scan that chooses keeps: played against storages of known shapes, in
// simulated time, the count must come within a tenth of the best fixed number's time on each.
#include "scan/lister_count.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>

namespace {

// A storage as listings see it. A listing waits `roundTrip`, and `waitPerEntry` for each entry, on
// the storage, which serves `servedAtOnce` listings at once (0: any number) and queues the rest;
// and it spends `processorPerEntry` for each entry on the scan's processors, which it shares, and
// which lose a little to switching between listers as they take turns.
struct Storage {
  const char* name;
  double roundTrip;
  double waitPerEntry;
  double processorPerEntry;
  std::size_t servedAtOnce;
  std::size_t processors;
};

// What taking turns costs: a warm scan with 16 listers on 2 processors took an eighth longer than
// with 2.
constexpr double kSwitching = 0.02;

// How long one listing of `entries` takes with `inFlight` listings at once.
double listingSeconds(const Storage& storage, std::size_t inFlight, std::uint64_t entries) {
  double load = static_cast<double>(inFlight);
  double queued = storage.servedAtOnce == 0
                      ? 1
                      : std::max(1.0, load / static_cast<double>(storage.servedAtOnce));
  double processors = static_cast<double>(storage.processors);
  double shared = std::max(1.0, load / processors) *
                  (1 + kSwitching * std::max(0.0, load - processors) / processors);
  double waiting =
      (storage.roundTrip + storage.waitPerEntry * static_cast<double>(entries)) * queued;
  return waiting + storage.processorPerEntry * static_cast<double>(entries) * shared;
}

// Folders of a few entries and of many, in a fixed mix.
std::uint64_t entriesOfListing(std::size_t listing) {
  constexpr std::uint64_t kMix[] = {2, 7, 3, 40, 2, 12, 250, 5, 2, 30};
  return kMix[listing % std::size(kMix)];
}

// Parts of a tree cost more to list than others, in a way no count can foresee: each run of
// kListingsInPart listings costs a factor between 0.7 and 1.4, from a fixed pseudo-random
// sequence, so that spans at the same number stray as a real scan's do.
constexpr std::size_t kListingsInPart = 300;

double costOfPart(std::size_t listing) {
  std::uint64_t state = listing / kListingsInPart * 0x9E3779B97F4A7C15ull + 1;
  state ^= state >> 31;
  state *= 0xBF58476D1CE4E5B9ull;
  state ^= state >> 29;
  return std::exp2(static_cast<double>(state % 1001) / 1000.0 - 0.5);
}

constexpr std::size_t kListings = 20000;

// Simulated seconds to list kListings folders, with as many in flight as the count allows,
// always enough folders to list, and how many were in flight on the mean; the count decides as
// listings end.
struct SimulatedScan {
  double seconds = 0;
  double meanInFlight = 0;  // over the simulated time
};

SimulatedScan simulateScan(const Storage& storage, ListerCount& count) {
  SimulatedScan scan;
  for (std::size_t listing = 0; listing < kListings; ++listing) {
    std::size_t inFlight = count.limit;
    std::uint64_t entries = entriesOfListing(listing);
    double took = listingSeconds(storage, inFlight, entries) * costOfPart(listing);
    // With `inFlight` at once, one ends every took / inFlight on average.
    double elapsed = took / static_cast<double>(inFlight);
    scan.seconds += elapsed;
    scan.meanInFlight += elapsed * static_cast<double>(inFlight);
    auto nanoseconds = [](double seconds) {
      return std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9));
    };
    countListing(count, nanoseconds(elapsed), nanoseconds(took), entries);
  }
  scan.meanInFlight /= scan.seconds;
  return scan;
}

double scanSeconds(const Storage& storage, ListerCount& count) {
  return simulateScan(storage, count).seconds;
}

constexpr std::size_t kMostAtOnce = 128;

// The storages the count meets: a warm cache (the processors are all), a cold disk whose queue
// rewards a few more requests, a file server that answers every request in about the same time,
// one that serves only 8 at once, and one where every entry is a round trip of its own.
const Storage kStorages[] = {
    {"warm cache", 0, 0, 2e-6, 0, 2},
    {"cold disk", 3e-3, 1e-4, 2e-6, 12, 2},
    {"file server", 5e-3, 0, 2e-6, 0, 2},
    {"file server serving 8 at once", 5e-3, 0, 2e-6, 8, 2},
    {"file server, a round trip an entry", 1e-3, 1e-3, 2e-6, 0, 2},
};

// The fault of a count that does not judge its steps: one that keeps growing on a cache or a full
// queue, or that stops short on a file server, ends far from the best fixed number's time.
TEST(ListerCount, ComesWithinATenthOfTheBestFixedNumberOnEveryStorage) {
  for (const Storage& storage : kStorages) {
    double best = 0;
    std::size_t bestListers = 0;
    for (std::size_t listers = 1; listers <= kMostAtOnce; listers *= 2) {
      ListerCount fixed = countListers(listers, storage.processors, kMostAtOnce);
      double seconds = scanSeconds(storage, fixed);
      if (bestListers == 0 || seconds < best) {
        best = seconds;
        bestListers = listers;
      }
    }
    ListerCount chosen = countListers(0, storage.processors, kMostAtOnce);
    double seconds = scanSeconds(storage, chosen);
    EXPECT_LE(seconds, 1.1 * best)
        << storage.name << ": best fixed " << bestListers << ", chosen ends at " << chosen.limit;
  }
}

// A file server that others start to load halfway through the scan, so that it serves only 8 of
// the scan's listings at once: listings wait in its queue, and the count steps back, to less than
// half, rather than keep the queue full.
TEST(ListerCount, StepsBackWhenTheStoragesQueueFills) {
  ListerCount chosen = countListers(0, 2, kMostAtOnce);
  scanSeconds(kStorages[2], chosen);
  ASSERT_EQ(chosen.limit, kMostAtOnce);
  EXPECT_LT(simulateScan(kStorages[3], chosen).meanInFlight, kMostAtOnce / 2.0);
}

// A fixed number is kept whatever the listings do; no more than the handles allow.
TEST(ListerCount, AGivenNumberStaysAndTheHandlesBoundIt) {
  ListerCount fixed = countListers(16, 2, 1000);
  scanSeconds(kStorages[2], fixed);
  EXPECT_EQ(fixed.limit, 16u);
  EXPECT_EQ(countListers(64, 2, 10).limit, 10u);
  ListerCount chooses = countListers(0, 2, 10);
  scanSeconds(kStorages[2], chooses);
  EXPECT_EQ(chooses.limit, 10u);
}

}  // namespace
