#include "scan/lister_count.h"

#include <algorithm>

namespace {

// A span ends once it has lasted this long and holds this many listings for each listing allowed
// in flight (and this many at the least), so that each lister is judged over a few listings and
// a warm cache over thousands of them, whose times vary too much one by one to tell anything; or,
// for a storage so slow that listings take long, after a longer while with a few listings.
constexpr std::chrono::milliseconds kShortestSpan(20);
constexpr std::uint64_t kListingsPerListerInSpan = 2;
constexpr std::uint64_t kLeastListingsInSpan = 8;
constexpr std::chrono::milliseconds kLongSpan(250);
constexpr std::uint64_t kLeastListingsInLongSpan = 4;
// Listings that take this many times their shortest time lately wait in a queue: fewer in flight
// may be served as fast, and a step down is tried.
constexpr double kCongestedSlowdown = 2.0;
// Listings that take this many times their shortest time wait in a queue so full that a step down
// is tried even while an earlier one that did not pay is held: the span that judged that one may
// have begun before the queue filled.
constexpr double kFullQueueSlowdown = 4.0;
// A step up pays when the rate rises at least this much after it; a step down when the rate falls
// by no more than this. A step is judged over a few spans, unless the first one after it shows the
// rate leaping this much (or more than halving on a step down): one span of a storage whose times
// vary says little, and a storage that answers many at once should not be kept waiting.
constexpr double kGainThatPays = 1.1;
constexpr double kLeap = 1.5;
// A step down out of a queue pays at once where the rate keeps up and the listings' times fall by
// this much: they waited in the queue, not on the storage.
constexpr double kQueueLeft = 1.5;
constexpr std::size_t kSpansToJudge = 3;

// The shortest times are forgotten this much a decision, so that a scan moving on to folders that
// cost more, or a storage that others load, is not held to the times of the first listings.
constexpr double kForgetting = 0.02;
// After a step that did not pay, the count stays for this many decisions before it steps that way
// again: the storage that did not reward it is likely not to for a while. Each further step that
// does not pay holds twice as long, up to the most: a warm cache, which no step rewards, is not
// probed every few spans of the whole scan.
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

void keepRate(ListerCount& count, double rate) {
  if (count.ratesKept == ListerCount::kRatesKept) {
    std::copy(count.rates + 1, count.rates + ListerCount::kRatesKept, count.rates);
    --count.ratesKept;
  }
  count.rates[count.ratesKept++] = rate;
}

// The median of the rates kept (of two, the lower).
double rateAtLimit(const ListerCount& count) {
  const double* rates = count.rates;
  switch (count.ratesKept) {
    case 0:
      return 0;
    case 1:
      return rates[0];
    case 2:
      return std::min(rates[0], rates[1]);
    default:
      return std::max(std::min(rates[0], rates[1]),
                      std::min(std::max(rates[0], rates[1]), rates[2]));
  }
}

void step(ListerCount& count, ListerCount::Step way, const SpanMeasure& measured) {
  count.stepped = way;
  count.limitBeforeStep = count.limit;
  count.rateBeforeStep = rateAtLimit(count);
  count.slowdownBeforeStep = measured.slowdown;
  count.judgedRates = 0;
  count.judgedSpans = 0;
  count.limit = way == ListerCount::Step::kUp ? std::min(count.most, count.limit * 2)
                                              : std::max(count.least, count.limit / 2);
}

enum class Verdict { kPending, kPaid, kNotPaid };

// The last step's verdict once the spans since it tell.
Verdict judge(ListerCount& count, const SpanMeasure& measured) {
  count.judgedRates += measured.rate;
  ++count.judgedSpans;
  double gain = count.judgedRates / static_cast<double>(count.judgedSpans) / count.rateBeforeStep;
  bool up = count.stepped == ListerCount::Step::kUp;
  if (up ? gain >= kLeap : gain * kLeap < 1) return up ? Verdict::kPaid : Verdict::kNotPaid;
  bool queueLeft = measured.slowdown * kQueueLeft <= count.slowdownBeforeStep;
  if (!up && queueLeft && gain * kGainThatPays >= 1) return Verdict::kPaid;
  if (count.judgedSpans < kSpansToJudge) return Verdict::kPending;
  return (up ? gain >= kGainThatPays : gain * kGainThatPays >= 1) ? Verdict::kPaid
                                                                  : Verdict::kNotPaid;
}

// Keeps a step that paid, or takes it back and holds that way a while, longer each time.
void settleStep(ListerCount& count, Verdict verdict) {
  bool up = count.stepped == ListerCount::Step::kUp;
  count.stepped = ListerCount::Step::kNone;
  std::size_t& nextHold = up ? count.nextHoldUp : count.nextHoldDown;
  count.ratesKept = 0;
  if (verdict == Verdict::kPaid) {
    nextHold = 0;
    keepRate(count, count.judgedRates / static_cast<double>(count.judgedSpans));
    return;
  }
  count.limit = count.limitBeforeStep;
  keepRate(count, count.rateBeforeStep);
  std::size_t hold = std::max(kDecisionsToHold, nextHold);
  (up ? count.holdUp : count.holdDown) = hold;
  nextHold = std::min(kMostDecisionsToHold, hold * 2);
}

void decide(ListerCount& count, const ListingSpan& span) {
  SpanMeasure measured = measure(span);
  for (double& shortest : count.shortest) shortest *= 1 + kForgetting;
  if (count.holdUp > 0) --count.holdUp;
  if (count.holdDown > 0) --count.holdDown;
  if (count.stepped != ListerCount::Step::kNone) {
    Verdict verdict = judge(count, measured);
    if (verdict == Verdict::kPending) return;
    settleStep(count, verdict);
    if (verdict == Verdict::kNotPaid) return;
  } else {
    keepRate(count, measured.rate);
  }
  bool queued = measured.slowdown >= kCongestedSlowdown;
  bool held = count.holdDown > 0 && measured.slowdown < kFullQueueSlowdown;
  if (queued && !held && count.limit > count.least) {
    step(count, ListerCount::Step::kDown, measured);
  } else if (count.holdUp == 0 && count.limit < count.most) {
    step(count, ListerCount::Step::kUp, measured);
  }
}

}  // namespace

ListerCount countListers(std::size_t listers, std::size_t processors, std::size_t mostAtOnce) {
  ListerCount count;
  count.chooses = listers == 0;
  std::size_t most = count.chooses ? std::max(kMostListers, processors) : listers;
  count.most = std::max<std::size_t>(std::min(most, mostAtOnce), 1);
  count.least = std::min(std::max<std::size_t>(processors, 1), count.most);
  count.limit = count.chooses ? count.least : count.most;
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
  ListingSpan& span = count.pending;
  span.elapsed += elapsed;
  ++span.listings;
  span.slowdown += listing / shortest;
  span.work += count.work[size];
  if (!spanEnds(count, span)) return;
  decide(count, span);
  span = ListingSpan();
}
