// The threads of a scan, and what passes between them.
//
// Who owns what:
// - The coordinator, a thread of its own, owns all the traversal state (Coordinator: the tree, the
//   report's cursor and window, the open folders, the count). No other thread reads or writes it
//   while the coordinator runs; the thread that ends the scan takes it over once it has joined it.
// - Listers, as many threads as the count has allowed so far, take jobs, make the system's calls
//   on what the job says, and hand back what they found. Each owns its FolderReader and scratch.
// - The taker, whichever thread calls takeReportLines, takes the report's lines and writes them.
// - They meet only in the Exchange, under its one lock: the jobs queued for listers, the results
//   queued for the coordinator, the lines queued for the taker, and the progress the taker may
//   read. Nothing else is shared.
//
// Waits, each on a condition variable of its own:
// - a lister waits until a job is queued and fewer than the limit are being listed, or the scan
//   stops;
// - the coordinator waits until results are worth taking in (most of the jobs out have come back,
//   listers wait with no job left, or a result has waited a few milliseconds, which it looks at
//   by itself while jobs are out), the taker makes room for lines it could not pass on, or the
//   scan stops;
// - the taker waits until enough lines are ready to be worth waking for, the scan is done, or the
//   time it gave is up; stopScan waits until the coordinator is done.
#include "scan/scan.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "scan/coordinator.h"
#include "scan/lister.h"

namespace {

using ExchangeLock = std::unique_lock<std::mutex>;
using SteadyClock = std::chrono::steady_clock;

// Folders handed out ahead of the report: enough for the listers not to wait for the report while
// a large folder holds it up, and a bound on memory whatever the tree.
constexpr std::size_t kWindowFolders = 2048;
// Lines ready and not yet taken, in bytes, beyond which the report stops moving on: a slow taker
// holds the scan back instead of letting lines pile up. A line holds no path, so that its size is
// fixed whatever the depth.
constexpr std::size_t kMostReadyLineBytes = 256 * 1024;
constexpr std::size_t kMostReadyLines = kMostReadyLineBytes / sizeof(ReportLine);
// Lines worth waking the taker for before it looks again by itself: waking it for every line or
// two would cost more than the lines.
constexpr std::size_t kLinesWorthWaking = 256;
// A listing that took this long is heard of at once: it costs far more than waking the
// coordinator, and on a storage this slow the folders it found are worth handing out without
// delay. Quicker ones wait for others, but no longer than kResultsWaitAtMost, so that the count
// and the report do not lag behind.
constexpr std::chrono::microseconds kListingWorthHearingOfAtOnce(500);
constexpr std::chrono::milliseconds kResultsWaitAtMost(5);

}  // namespace

struct Exchange {
  std::mutex lock;
  std::condition_variable jobQueued;         // listers wait here
  std::condition_variable coordinatorWakes;  // the coordinator waits here
  std::condition_variable linesReady;        // the taker waits here

  std::deque<ListingJob> jobs;
  std::vector<ListingResult> results;
  std::chrono::steady_clock::time_point firstResultAt;  // the oldest result queued came then
  std::vector<ReportLine> lines;
  std::size_t listing = 0;      // jobs being run by listers
  std::size_t idleListers = 0;  // waiting for a job
  std::size_t limit = 1;        // jobs that may be run at once
  bool coordinatorWaits = false;
  bool coordinatorWantsRoom = false;  // it holds lines back for want of room
  bool stopping = false;
  bool done = false;  // the coordinator has passed on every line it will: finished or stopped
  ScanProgress progress;
  FolderNamePtr waitingFor;
  FolderTotals topTotals;
  bool topListed = false;
};

struct ListerThread {
  explicit ListerThread(ListingContext& listing) : reader(makeFolderReader(listing)) {}
  FolderReaderPtr reader;
  ListerScratch scratch;
  std::thread thread;
};

struct Scan {
  Scan(const ScanRules& scanRules, const std::u16string& path, ListingContext& listingContext,
       std::size_t listers)
      : rules(scanRules),
        listing(listingContext),
        coordinator(rules, path, kWindowFolders,
                    {folderHandleBudget(listingContext), longestPathOpenedAtOnce(listingContext),
                     loopErrorCode(), replacedFolderErrorCode()},
                    listers, std::max(1u, std::thread::hardware_concurrency())) {}

  const ScanRules rules;
  ListingContext& listing;
  Exchange exchange;
  Coordinator coordinator;  // the coordinator thread's
  std::thread coordinatorThread;
  // Started by the coordinator thread, joined at the end once it has ended.
  std::vector<std::unique_ptr<ListerThread>> listers;
};

namespace {

// Whether the coordinator is to be woken, at `now`, for the results queued: once three quarters
// of the jobs out have come back, so that it hands out more before the listers run out; once no
// job is left and an eighth of the listers allowed wait for one; once the oldest result has
// waited long enough; or for a slow listing. Otherwise it takes them in later, many at once:
// waking it for each quick one would cost two switches of a processor a folder.
bool resultsWorthWaking(const Exchange& exchange, std::chrono::steady_clock::time_point now,
                        bool slowListing = false) {
  if (!exchange.coordinatorWaits || exchange.results.empty()) return false;
  std::size_t out = exchange.jobs.size() + exchange.listing + exchange.results.size();
  bool listersWait =
      exchange.jobs.empty() && exchange.idleListers >= std::max<std::size_t>(1, exchange.limit / 8);
  return exchange.results.size() * 4 >= out * 3 || listersWait || slowListing ||
         now - exchange.firstResultAt >= kResultsWaitAtMost;
}

// The next job for a lister, when one may be listed now; the lock is held.
bool takeJob(Exchange& exchange, ListingJob& job) {
  if (exchange.stopping || exchange.jobs.empty() || exchange.listing >= exchange.limit) {
    return false;
  }
  job = std::move(exchange.jobs.front());
  exchange.jobs.pop_front();
  ++exchange.listing;
  return true;
}

void runLister(Scan& scan, ListerThread& self) {
  Exchange& exchange = scan.exchange;
  ExchangeLock lock(exchange.lock);
  ListingJob job;
  for (;;) {
    ++exchange.idleListers;
    if (resultsWorthWaking(exchange, std::chrono::steady_clock::now())) {
      exchange.coordinatorWakes.notify_one();
    }
    exchange.jobQueued.wait(lock, [&] { return exchange.stopping || takeJob(exchange, job); });
    --exchange.idleListers;
    if (exchange.stopping) return;
    // Lists job after job while there are any, handing each result back as it takes the next.
    do {
      lock.unlock();
      ListingResult result;
      runListingJob(scan.listing, *self.reader, scan.rules, job, self.scratch, result);
      lock.lock();
      --exchange.listing;
      auto endedAt = result.endedAt;
      bool slow = result.took >= kListingWorthHearingOfAtOnce;
      if (exchange.results.empty()) exchange.firstResultAt = endedAt;
      exchange.results.push_back(std::move(result));
      bool more = takeJob(exchange, job);
      if (resultsWorthWaking(exchange, endedAt, slow)) exchange.coordinatorWakes.notify_one();
      if (!more) break;
    } while (true);
  }
}

// Starts listers until there is one for each listing allowed in flight, as far as the system
// allows: fewer listers read fewer folders at once, and the report is the same. Called by the
// coordinator, without the lock.
void startListers(Scan& scan, std::size_t wanted) {
  try {
    while (scan.listers.size() < wanted) {
      scan.listers.push_back(std::make_unique<ListerThread>(scan.listing));
      ListerThread& lister = *scan.listers.back();
      lister.thread = std::thread(runLister, std::ref(scan), std::ref(lister));
    }
  } catch (const std::system_error&) {
    if (!scan.listers.empty() && !scan.listers.back()->thread.joinable()) scan.listers.pop_back();
    ListerCount& count = scan.coordinator.count;
    count.most = count.limit = count.least = std::max<std::size_t>(scan.listers.size(), 1);
  }
}

// What the coordinator brings to the exchange after a round.
struct Round {
  std::vector<ListingResult> results;
  std::chrono::steady_clock::time_point firstResultAt;  // the oldest result queued came then
  std::vector<ListingJob> jobs;
  std::vector<ReportLine> lines;
  std::size_t room = 0;  // for lines, as the round began
  bool stopping = false;
};

// The coordinator's work between two visits to the exchange: takes in results, moves the report
// on within the room, and hands out what may be handed out now, until neither lets the other go
// further (a folder that leads back up is finished as it is handed out, and may let the report
// move on).
void coordinateRound(Scan& scan, Round& round) {
  Coordinator& coordinator = scan.coordinator;
  for (ListingResult& result : round.results) takeResult(coordinator, result);
  round.results.clear();
  std::size_t room = round.stopping ? static_cast<std::size_t>(-1) : round.room;
  for (bool again = true; again;) {
    again = collectReportLines(coordinator.tree, round.lines, room);
    if (round.stopping) return;
    std::uint64_t finished = coordinator.progress.folders;
    for (ListingJob job; handOutJob(coordinator, job);) round.jobs.push_back(std::move(job));
    again = again || coordinator.progress.folders != finished;
  }
  if (scan.listers.size() < coordinator.count.limit) startListers(scan, coordinator.count.limit);
  // Jobs are run by listers; without any (none could be started), the coordinator runs them.
  if (scan.listers.empty() && !round.jobs.empty()) {
    ListerThread own(scan.listing);
    for (ListingJob& job : round.jobs) {
      round.results.emplace_back();
      runListingJob(scan.listing, *own.reader, scan.rules, job, own.scratch, round.results.back());
    }
    round.jobs.clear();
  }
}

// Passes the round's jobs and lines on, and reads what came meanwhile; the lock is held. False
// once the coordinator is done.
bool exchangeRound(Scan& scan, Round& round) {
  Exchange& exchange = scan.exchange;
  Coordinator& coordinator = scan.coordinator;
  for (ListingJob& job : round.jobs) {
    if (job.urgent) {
      exchange.jobs.push_front(std::move(job));
    } else {
      exchange.jobs.push_back(std::move(job));
    }
  }
  // A lister for each job, as far as there are idle ones; all of them when more may list at once.
  if (exchange.limit < coordinator.count.limit) {
    exchange.jobQueued.notify_all();
  } else {
    for (std::size_t i = 0; i < round.jobs.size(); ++i) exchange.jobQueued.notify_one();
  }
  round.jobs.clear();
  if (exchange.limit != coordinator.count.limit) {
    coordinator.limitAppliedAt = std::chrono::steady_clock::now();
    exchange.limit = coordinator.count.limit;
  }
  exchange.lines.insert(exchange.lines.end(), std::make_move_iterator(round.lines.begin()),
                        std::make_move_iterator(round.lines.end()));
  round.lines.clear();
  exchange.progress.folders = coordinator.progress.folders;
  exchange.progress.entries = coordinator.progress.entries;
  exchange.progress.totalBytes = coordinator.progress.totalBytes;
  exchange.waitingFor = folderTheReportWaitsFor(coordinator.tree);
  bool full = exchange.lines.size() >= kMostReadyLines;
  exchange.coordinatorWantsRoom = full;
  exchange.progress.heldByTaker = full && coordinator.jobsOut == 0;
  exchange.done = coordinator.tree.finished || round.stopping;
  if (coordinator.tree.finished) {
    exchange.topTotals = coordinator.tree.topTotals;
    exchange.topListed = coordinator.tree.topListed;
  }
  if (exchange.done || exchange.lines.size() >= kLinesWorthWaking) exchange.linesReady.notify_all();
  return !exchange.done;
}

void coordinate(Scan& scan) {
  Exchange& exchange = scan.exchange;
  Round round;
  ExchangeLock lock(exchange.lock);
  for (;;) {
    round.results.insert(round.results.end(), std::make_move_iterator(exchange.results.begin()),
                         std::make_move_iterator(exchange.results.end()));
    exchange.results.clear();
    round.room = kMostReadyLines - std::min(kMostReadyLines, exchange.lines.size());
    round.stopping = exchange.stopping;
    lock.unlock();
    coordinateRound(scan, round);
    lock.lock();
    if (!exchangeRound(scan, round)) return;
    if (!round.results.empty()) continue;
    exchange.coordinatorWaits = true;
    auto wakes = [&] {
      return exchange.stopping || resultsWorthWaking(exchange, SteadyClock::now()) ||
             (exchange.coordinatorWantsRoom && exchange.lines.size() < kMostReadyLines);
    };
    // While jobs are out, it looks again by itself before a result has waited too long.
    if (scan.coordinator.jobsOut == 0) {
      exchange.coordinatorWakes.wait(lock, wakes);
    } else {
      exchange.coordinatorWakes.wait_for(lock, kResultsWaitAtMost, wakes);
    }
    exchange.coordinatorWaits = false;
  }
}

// Closes what the scan still holds once every thread but the caller's has ended: the handles the
// coordinator kept or gave up, those of results it never took in, and those queued jobs were to
// close.
void closeEveryHandle(Scan& scan) {
  Exchange& exchange = scan.exchange;
  for (ListingResult& result : exchange.results) {
    if (result.kind == ListingJob::Kind::kList) takeResult(scan.coordinator, result);
  }
  for (ListingJob& job : exchange.jobs) {
    for (FolderHandle handle : job.toClose) closeFolderHandle(scan.listing, handle);
  }
  for (FolderHandle handle : takeEveryHandle(scan.coordinator)) {
    closeFolderHandle(scan.listing, handle);
  }
}

void endScan(Scan* scan) {
  {
    ExchangeLock lock(scan->exchange.lock);
    scan->exchange.stopping = true;
    scan->exchange.jobQueued.notify_all();
    scan->exchange.coordinatorWakes.notify_all();
  }
  if (scan->coordinatorThread.joinable()) scan->coordinatorThread.join();
  for (auto& lister : scan->listers) lister->thread.join();
  closeEveryHandle(*scan);
  delete scan;
}

}  // namespace

ScanPtr startScan(const ScanRules& rules, const std::u16string& path, ListingContext& listing,
                  std::size_t listers) {
  ScanPtr scan(new Scan(rules, path, listing, listers), endScan);
  scan->coordinatorThread = std::thread(coordinate, std::ref(*scan));
  return scan;
}

bool takeReportLines(Scan& scan, std::vector<ReportLine>& lines, std::chrono::milliseconds wait) {
  Exchange& exchange = scan.exchange;
  ExchangeLock lock(exchange.lock);
  exchange.linesReady.wait_for(
      lock, wait, [&] { return exchange.done || exchange.lines.size() >= kLinesWorthWaking; });
  if (exchange.lines.empty()) return !exchange.done;
  lines.insert(lines.end(), std::make_move_iterator(exchange.lines.begin()),
               std::make_move_iterator(exchange.lines.end()));
  exchange.lines.clear();
  // The lines just taken make room: the report moves on at once.
  if (exchange.coordinatorWantsRoom && exchange.coordinatorWaits) {
    exchange.coordinatorWakes.notify_one();
  }
  return true;
}

void stopScan(Scan& scan, std::vector<ReportLine>& lines) {
  Exchange& exchange = scan.exchange;
  ExchangeLock lock(exchange.lock);
  exchange.stopping = true;
  exchange.jobQueued.notify_all();
  exchange.coordinatorWakes.notify_all();
  exchange.linesReady.wait(lock, [&] { return exchange.done; });
  lines.insert(lines.end(), std::make_move_iterator(exchange.lines.begin()),
               std::make_move_iterator(exchange.lines.end()));
  exchange.lines.clear();
}

FolderTotals treeTotals(const Scan& scan) {
  return scan.exchange.topTotals;
}

bool topFolderListed(const Scan& scan) {
  return scan.exchange.topListed;
}

ScanProgress progressOf(Scan& scan) {
  Exchange& exchange = scan.exchange;
  FolderNamePtr waitingFor;
  ScanProgress progress;
  {
    ExchangeLock lock(exchange.lock);
    progress = exchange.progress;
    waitingFor = exchange.waitingFor;
  }
  if (waitingFor) {
    PathFormer former;
    progress.waitingFor = formPath(former, waitingFor);
  }
  return progress;
}
