// How many folders a scan lists at once. Given a number, that many. Choosing for itself, the scan
// judges by how long listings take and how fast they come, as a congestion window is judged by
// round trips. A storage that is not yet busy answers more listings at once in about the time it
// answers one: the rate rises with the count, and the listings keep their times. Once its queue
// is full, more listings in flight only wait longer in it, and the rate stays.
//
// So the count starts at one listing per processor and tries each doubling (and, once listings
// come to take far longer than when it reached its number, without a higher rate, each halving)
// before it keeps it: it alternates spans at the new number with spans at the one it has, and
// compares each span's rate with the one beside it, so that parts of the tree that list faster or
// slower than others do not pass for the number's doing. A doubling is kept when it raises the
// rate, a halving when the rate keeps up without the listings it let go. Where a doubling makes
// the rate leap while listings keep their times (a file server), one span tells; elsewhere a few
// pairs of spans, until clearly more of them say one thing than the other; when they cannot tell,
// the smaller number wins. A trial that does not pay is tried again only after a while, longer
// each time.
//
// Each listing's time is compared with the shortest seen lately for a listing of its size, so that
// folders large and small compare; the rate is the work done per second, each listing counted at
// the time the first of its size took. Pure functions over values: the scan measures, this
// decides.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// The listings that ended since the last decision.
struct ListingSpan {
  std::chrono::nanoseconds elapsed{0};
  std::uint64_t listings = 0;
  // Summed over those listings: each one's time as a multiple of the shortest time lately of a
  // listing of its size, and the work it stands for.
  double slowdown = 0;
  double work = 0;
};

// Listings are told apart by size: 0 entries, 1, 2 to 3, 4 to 7, and so on.
constexpr std::size_t kListingSizes = 24;

struct ListerCount {
  bool chooses = false;
  std::size_t least = 1;  // never fewer than this
  std::size_t most = 1;   // never more than this
  std::size_t limit = 1;  // listings in flight allowed now: `home`, or the trial's number
  ListingSpan pending;
  // Listings left to end before spans are measured again, once the limit has changed: until then
  // listings begun at the number before still take their share of the storage and the processors.
  std::size_t settling = 0;
  // For each size of listing, the shortest time it took lately, in seconds (0: none seen): the
  // storage's time for it unloaded; and the time the first one took, the work a listing of that
  // size stands for in the rate.
  double shortest[kListingSizes] = {};
  double work[kListingSizes] = {};

  // The number the count has, and its last spans' slowdowns (listings' times as multiples of
  // their shortest), the newest last; and the slowdown and rate when it was reached going up:
  // listings that come to take far longer since, at no higher rate, wait in a queue.
  std::size_t home = 1;
  static constexpr std::size_t kSpansKept = 5;
  double homeSlowdowns[kSpansKept] = {};
  double homeRates[kSpansKept] = {};
  std::size_t homeSpans = 0;
  double slowdownReached = 0;
  double rateReached = 0;

  // A trial of twice or half `home`: spans at its number alternate with spans at home, each pair
  // giving the ratio of their rates.
  enum class Trial : std::uint8_t { kNone, kUp, kDown };
  Trial trial = Trial::kNone;
  std::size_t trialLimit = 0;
  double trialRate = 0;  // of its last span
  double trialSlowdown = 0;
  double lastHomeRate = 0;  // of the last span at home
  double lastHomeSlowdown = 0;
  // How far one span's rate strays from the one before at the same number: the mean square of the
  // log of their ratio, learned from spans at home.
  double squaredSpanStray = 0.03;
  std::size_t pairs = 0;
  std::size_t pairsWon = 0;  // those where the trial's number paid

  // Decisions left before another trial is made the same way, after one that did not pay; and how
  // many the next trial that way that does not pay holds for (0: the fewest).
  std::size_t holdUp = 0;
  std::size_t holdDown = 0;
  std::size_t nextHoldUp = 0;
  std::size_t nextHoldDown = 0;
};

// With `listers` 0 the scan chooses, from one per processor up to `mostAtOnce` (what the scan's
// handles allow at once).
ListerCount countListers(std::size_t listers, std::size_t processors, std::size_t mostAtOnce);

// Takes in a listing of `entries` that took `took` and ended `elapsed` after the one before, and
// decides the limit once the listings span long enough to tell.
void countListing(ListerCount& count, std::chrono::nanoseconds elapsed,
                  std::chrono::nanoseconds took, std::uint64_t entries);
