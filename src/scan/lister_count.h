// How many folders a scan lists at once. Given a number, that many. Choosing for itself, the scan
// judges by how long listings take, as a congestion window is judged by round trips: a storage
// that is not yet busy answers more listings at once in about the time it answers one, so that
// the rate rises with each step; once its queue is full, listings only wait longer in it and the
// rate stays. Each listing is compared with the shortest time seen lately for a listing of its
// size, so that folders large and small compare; the rate is the work done per second, each
// listing counted at the time the first of its size took. The count starts at one listing per
// processor and doubles as long as the rate rises with each step; it halves while listings take
// far longer than their shortest times (they wait in a queue), as long as the rate keeps up
// without them. A step that does not pay is taken back, and that way is tried again only after a
// while, longer each time. Every step is judged, over spans of a few listings per lister: at once
// where the rate leaps, over a few spans where a storage's times vary (a disk, whose listings come
// from its cache or its platters by turns). Pure functions over values: the scan measures, this
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
  std::size_t limit = 1;  // listings in flight allowed now
  ListingSpan pending;
  // For each size of listing, the shortest time it took lately, in seconds (0: none seen): the
  // storage's time for it unloaded; and the time the first one took, the work a listing of that
  // size stands for in the rate, fixed so that rates compare across the whole scan.
  double shortest[kListingSizes] = {};
  double work[kListingSizes] = {};
  // The rates of the last spans at the limit now (work per second), the newest last: their median
  // is the rate at that limit, which one span's leap or dip does not move.
  static constexpr std::size_t kRatesKept = 3;
  double rates[kRatesKept] = {};
  std::size_t ratesKept = 0;
  // The last step, while it is judged: a step up pays when the rate rises with it, a step down
  // when the rate keeps up without the listings it let go. Judged on the mean rate of the spans
  // since, against the rate before.
  enum class Step : std::uint8_t { kNone, kUp, kDown };
  Step stepped = Step::kNone;
  std::size_t limitBeforeStep = 0;
  double rateBeforeStep = 0;
  double slowdownBeforeStep = 0;  // listings' times as multiples of their shortest
  double judgedRates = 0;  // summed over the spans judged so far
  std::size_t judgedSpans = 0;
  // Decisions left before another step is tried the same way, after one that did not pay; and how
  // many the next step that way that does not pay holds for (0: the fewest).
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
