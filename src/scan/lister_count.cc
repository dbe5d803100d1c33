#include "scan/lister_count.h"

#include <algorithm>
#include <cmath>

namespace {

// A span ends once it has lasted this long and holds this many listings for each listing allowed
// in flight (and this many at the least), so that each lister is judged over a few listings and
// a warm cache over thousands of them, whose times vary too much one by one to tell anything; or,
// for a storage so slow that listings take long, after a longer while with a few listings.
constexpr std::chrono::milliseconds kShortestSpan(10);
constexpr std::uint64_t kListingsPerListerInSpan = 2;
constexpr std::uint64_t kLeastListingsInSpan = 8;
constexpr std::chrono::milliseconds kLongSpan(250);
constexpr std::uint64_t kLeastListingsInLongSpan = 4;
// A doubling pays when the rate rises at least this much with it; a halving when the rate falls by
// no more than this.
constexpr double kGainThatPays = 1.05;
// A doubling that makes the rate leap this much, and kSureness times as far as one span strays
// from the one before at the same number, while listings keep their times within this share, pays
// at once: the storage was far from busy. How far spans stray is learned from spans at home, with
// this weight for the newest, from a first guess.
constexpr double kLeap = 1.4;
constexpr double kSureness = 2;
constexpr double kTimesKept = 1.25;
constexpr double kStrayWeight = 0.2;
// Otherwise a trial is judged by its pairs: paid or not once this many more pairs say so than not,
// and after this many pairs in any case, when the smaller number wins: it costs less for a rate
// no one can tell apart.
constexpr std::ptrdiff_t kLeadThatTells = 3;
constexpr std::size_t kMostPairs = 6;
// Listings that take this many times as long as when the count reached its number, at no higher
// rate, wait in a queue: a halving is tried.
constexpr double kQueuedSlowdown = 1.5;
// The shortest times are forgotten this much a decision, so that a scan moving on to folders that
// cost more, or a storage that others load, is not held to the times of the first listings.
constexpr double kForgetting = 0.02;
// After a trial that did not pay, the count waits this many decisions before it tries that way
// again: the storage that did not reward it is likely not to for a while. Each further trial that
// does not pay waits twice as long, up to the most: a warm cache, which no doubling rewards, is not
// tried every few spans of the whole scan.
constexpr std::size_t kDecisionsToHold = 8;
constexpr std::size_t kMostDecisionsToHold = 128;
// Whatever the storage, a scan keeps no more listers than this (each holds a thread and a buffer).
constexpr std::size_t kMostListers = 256;

double seconds(std::chrono::nanoseconds duration) {
  return std::chrono::duration<double>(duration).count();
}

std::size_t sizeOf(std::uint64_t entries) {
  std::size_t size = 0;
  for (; entries > 0 && size + 1 < kListingSizes; entries >>= 1) ++size;
  return size;
}

bool spanEnds(const ListerCount& count, const ListingSpan& span) {
  std::uint64_t enough =
      std::max<std::uint64_t>(kLeastListingsInSpan, kListingsPerListerInSpan * count.limit);
  return (span.elapsed >= kShortestSpan && span.listings >= enough) ||
         (span.elapsed >= kLongSpan && span.listings >= kLeastListingsInLongSpan);
}

// What a span says of the storage.
struct SpanMeasure {
  double slowdown = 0;  // the listings' mean time as a multiple of their shortest
  double rate = 0;      // work done per second
};

SpanMeasure measure(const ListingSpan& span) {
  SpanMeasure measured;
  measured.slowdown = span.slowdown / static_cast<double>(span.listings);
  measured.rate = span.work / std::max(seconds(span.elapsed), 1e-9);
  return measured;
}

// The median of the first `kept` values (of an even number, the lower middle one).
double median(const double* values, std::size_t kept) {
  double sorted[ListerCount::kSpansKept];
  std::copy(values, values + kept, sorted);
  std::nth_element(sorted, sorted + (kept - 1) / 2, sorted + kept);
  return sorted[(kept - 1) / 2];
}

void keepHomeSpan(ListerCount& count, const SpanMeasure& measured) {
  std::size_t kept = std::min(count.homeSpans, ListerCount::kSpansKept);
  if (kept == ListerCount::kSpansKept) {
    std::copy(count.homeSlowdowns + 1, count.homeSlowdowns + kept, count.homeSlowdowns);
    std::copy(count.homeRates + 1, count.homeRates + kept, count.homeRates);
    --kept;
  }
  count.homeSlowdowns[kept] = measured.slowdown;
  count.homeRates[kept] = measured.rate;
  ++count.homeSpans;
}

// The count's number is now `home`, reached as `measured` says; going up, that is what a queue is
// told from later. A number reached going down out of a queue leaves listings slower than before
// the queue filled, so that the next halving is judged against the same.
void settleHome(ListerCount& count, std::size_t home, const SpanMeasure& measured, bool wentUp) {
  count.home = count.limit = home;
  count.trial = ListerCount::Trial::kNone;
  count.homeSpans = 0;
  keepHomeSpan(count, measured);
  count.lastHomeRate = measured.rate;
  count.lastHomeSlowdown = measured.slowdown;
  if (!wentUp) return;
  count.slowdownReached = measured.slowdown;
  count.rateReached = measured.rate;
}

bool queued(const ListerCount& count) {
  std::size_t kept = std::min(count.homeSpans, ListerCount::kSpansKept);
  return kept >= 2 &&
         median(count.homeSlowdowns, kept) >= kQueuedSlowdown * count.slowdownReached &&
         median(count.homeRates, kept) <= count.rateReached;
}

void startTrial(ListerCount& count, ListerCount::Trial way) {
  count.trial = way;
  count.trialLimit = way == ListerCount::Trial::kUp ? std::min(count.most, count.home * 2)
                                                    : std::max(count.least, count.home / 2);
  count.limit = count.trialLimit;
  count.pairs = 0;
  count.pairsWon = 0;
}

// Ends the trial: its number becomes home when it paid, or home stays and that way waits a while,
// longer each time it does not pay.
void endTrial(ListerCount& count, bool paid, const SpanMeasure& atTrial,
              const SpanMeasure& atHome) {
  bool up = count.trial == ListerCount::Trial::kUp;
  std::size_t& nextHold = up ? count.nextHoldUp : count.nextHoldDown;
  if (paid) {
    nextHold = 0;
    settleHome(count, count.trialLimit, atTrial, up);
    return;
  }
  settleHome(count, count.home, atHome, false);
  std::size_t hold = std::max(kDecisionsToHold, nextHold);
  (up ? count.holdUp : count.holdDown) = hold;
  nextHold = std::min(kMostDecisionsToHold, hold * 2);
}

enum class Verdict { kPending, kPaid, kNotPaid };

// The verdict of the pairs so far: paid once the trial's rate beats home's by what pays (a
// doubling) or keeps within it (a halving) in kLeadThatTells pairs more than it does not, not paid
// once it falls short in that many more; otherwise the smaller number wins after kMostPairs.
// Counting pairs won, rather than summing their ratios, lets no one span of a scan that lists an
// odd folder decide.
Verdict judgePairs(const ListerCount& count) {
  auto lead =
      static_cast<std::ptrdiff_t>(2 * count.pairsWon) - static_cast<std::ptrdiff_t>(count.pairs);
  if (lead >= kLeadThatTells) return Verdict::kPaid;
  if (-lead >= kLeadThatTells) return Verdict::kNotPaid;
  if (count.pairs < kMostPairs) return Verdict::kPending;
  return count.trial == ListerCount::Trial::kDown ? Verdict::kPaid : Verdict::kNotPaid;
}

// Takes in a span at home: how far it strays from the last one, and its rate and times, which the
// next span of a trial is compared with.
void learnHomeSpan(ListerCount& count, const SpanMeasure& measured) {
  if (count.lastHomeRate > 0 && measured.rate > 0) {
    double stray = std::log(measured.rate / count.lastHomeRate);
    count.squaredSpanStray += kStrayWeight * (stray * stray - count.squaredSpanStray);
  }
  count.lastHomeRate = measured.rate;
  count.lastHomeSlowdown = measured.slowdown;
}

// A span of the trial. A doubling's first span pays at once where the rate leaps while listings
// keep their times; otherwise a span at home follows, to pair with it.
void trialSpan(ListerCount& count, const SpanMeasure& measured) {
  count.trialRate = measured.rate;
  count.trialSlowdown = measured.slowdown;
  double leap = std::log(std::max(measured.rate, 1e-12) / std::max(count.lastHomeRate, 1e-12));
  bool leaps = count.trial == ListerCount::Trial::kUp && count.pairs == 0 &&
               leap >= std::log(kLeap) && leap >= kSureness * std::sqrt(count.squaredSpanStray) &&
               measured.slowdown <= kTimesKept * count.lastHomeSlowdown;
  if (!leaps) {
    count.limit = count.home;
    return;
  }
  // The storage was far from busy: the next doubling is tried at once, against this span.
  endTrial(count, true, measured, measured);
  if (count.home < count.most) startTrial(count, ListerCount::Trial::kUp);
}

// A span at home while a trial runs: it pairs with the trial's span before it.
void pairedHomeSpan(ListerCount& count, const SpanMeasure& measured) {
  learnHomeSpan(count, measured);
  ++count.pairs;
  double ratio = count.trialRate / std::max(measured.rate, 1e-12);
  bool up = count.trial == ListerCount::Trial::kUp;
  if (up ? ratio >= kGainThatPays : ratio * kGainThatPays >= 1) ++count.pairsWon;
  Verdict verdict = judgePairs(count);
  if (verdict == Verdict::kPending) {
    count.limit = count.trialLimit;
    return;
  }
  endTrial(count, verdict == Verdict::kPaid, {count.trialSlowdown, count.trialRate}, measured);
}

// A span at home with no trial running: a trial starts where one may.
void homeSpan(ListerCount& count, const SpanMeasure& measured) {
  learnHomeSpan(count, measured);
  if (count.rateReached == 0) {
    count.slowdownReached = measured.slowdown;
    count.rateReached = measured.rate;
  }
  keepHomeSpan(count, measured);
  if (queued(count) && count.holdDown == 0 && count.home > count.least) {
    startTrial(count, ListerCount::Trial::kDown);
  } else if (count.holdUp == 0 && count.home < count.most) {
    startTrial(count, ListerCount::Trial::kUp);
  }
}

void decide(ListerCount& count, const ListingSpan& span) {
  std::size_t limitBefore = count.limit;
  SpanMeasure measured = measure(span);
  for (double& shortest : count.shortest) shortest *= 1 + kForgetting;
  if (count.holdUp > 0) --count.holdUp;
  if (count.holdDown > 0) --count.holdDown;
  if (count.trial == ListerCount::Trial::kNone) {
    homeSpan(count, measured);
  } else if (count.limit == count.trialLimit) {
    trialSpan(count, measured);
  } else {
    pairedHomeSpan(count, measured);
  }
  if (count.limit != limitBefore) count.settling = std::max(count.limit, limitBefore);
}

}  // namespace

ListerCount countListers(std::size_t listers, std::size_t processors, std::size_t mostAtOnce) {
  ListerCount count;
  count.chooses = listers == 0;
  std::size_t most = count.chooses ? std::max(kMostListers, processors) : listers;
  count.most = std::max<std::size_t>(std::min(most, mostAtOnce), 1);
  count.least = std::min(std::max<std::size_t>(processors, 1), count.most);
  count.home = count.limit = count.chooses ? count.least : count.most;
  return count;
}

void countListing(ListerCount& count, std::chrono::nanoseconds elapsed,
                  std::chrono::nanoseconds took, std::uint64_t entries) {
  if (!count.chooses) return;
  std::size_t size = sizeOf(entries);
  double& shortest = count.shortest[size];
  double listing = std::max(seconds(took), 1e-9);
  // The first listing of its size sets its times, and tells nothing of the load: taken at a load
  // where listings wait, its time would count as work the storage did.
  if (shortest == 0) {
    shortest = count.work[size] = listing;
    return;
  }
  shortest = std::min(shortest, listing);
  if (count.settling > 0) {
    --count.settling;
    return;
  }
  ListingSpan& span = count.pending;
  span.elapsed += elapsed;
  ++span.listings;
  span.slowdown += listing / shortest;
  span.work += count.work[size];
  if (!spanEnds(count, span)) return;
  decide(count, span);
  span = ListingSpan();
}
