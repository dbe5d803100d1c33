// The threads of a scan: listers take folders from the tree, list them and record what they
// found; whichever finishes the folder the report waits for moves the report on. The thread that
// takes the lines moves it on too whenever it takes some, and decides how many listers there are.
// With one lister, that thread is the lister: the scan of one folder at a time.
#include <algorithm>
#include <system_error>

#include "scan/scan_state.h"

namespace {

// Folders handed out ahead of the report: enough for the listers not to wait for the report while
// a large folder holds it up, and a bound on memory whatever the tree.
constexpr std::size_t kWindowFolders = 2048;
// Lines ready and not yet taken beyond which the report stops moving on: a slow taker holds the
// scan back instead of letting lines pile up.
constexpr std::size_t kMostReadyLines = 4096;
// Lines worth waking the taker for before it looks again by itself: waking it for every line or
// two would cost the listers a sixth of their time in a report with a row for every folder.
constexpr std::size_t kLinesWorthWaking = 256;
// How often the lister count is looked at.
constexpr auto kLookInterval = std::chrono::milliseconds(20);

bool onlyLister(const Scan& scan) {
  return scan.count.most == 1;
}

// Wakes as many idle listers as there are folders that could be handed out to them now, but for
// `leftToCaller` that the calling lister takes itself: a lister woken for nothing costs two
// switches of a processor, as much as listing a small folder. The lock is held.
void wakeListers(Scan& scan, std::size_t leftToCaller) {
  std::size_t room = scan.count.limit > scan.beingListed ? scan.count.limit - scan.beingListed : 0;
  std::size_t forOthers = std::min(room, scan.tree.waiting);
  forOthers = forOthers > leftToCaller ? forOthers - leftToCaller : 0;
  for (std::size_t i = 0; i < std::min(forOthers, scan.idleListers); ++i) {
    scan.workToHandOut.notify_one();
  }
}

// Moves the report on as far as the listed folders let it, while the taker keeps up, and says
// whether it moved: folders passed leave the window, so that more may be handed out. The taker is
// woken when the report is complete or a good number of lines wait for it; otherwise it finds them
// when it next looks.
bool moveReport(Scan& scan) {
  if (scan.ready.size() >= kMostReadyLines) return false;
  if (!collectReportLines(scan.tree, scan.ready)) return false;
  if (scan.ready.size() >= kLinesWorthWaking || scan.tree.finished) scan.linesReady.notify_one();
  return true;
}

// The next folder to list, when one may be listed now; the lock is held.
HandedOut takeFolder(Scan& scan) {
  if (scan.stopping || scan.beingListed >= scan.count.limit) return {};
  HandedOut job = handOutFolder(scan.tree);
  if (job.folder) ++scan.beingListed;
  return job;
}

// Lists a folder handed out and records its outcome; the lock is held on entry and on return.
void listHandedOut(Scan& scan, ScanLock& lock, Lister& lister, const HandedOut& job) {
  FolderState outcome = listFolder(scan, lock, lister, *job.folder);
  --scan.beingListed;
  ++scan.listed;
  ++scan.foldersSinceLook;
  scan.entriesSinceLook += job.folder->totals.entryCount;
  mergeTotals(scan.counted, job.folder->totals);
  ListingOutcome finished = finishListing(scan.tree, job, outcome);
  if (finished.lastOfParent && doneWithSubfolders(scan.open, job.parent)) noteHandleReleased(scan);
  if (finished.reportWaits) moveReport(scan);
  // This lister takes the next folder itself.
  wakeListers(scan, 1);
}

void startIdle(Scan& scan, Lister& lister) {
  ++scan.idleListers;
  lister.idle = true;
  lister.idleSince = SteadyClock::now();
}

void endIdle(Scan& scan, Lister& lister) {
  --scan.idleListers;
  lister.idle = false;
  lister.idleSinceLook += SteadyClock::now() - std::max(lister.idleSince, scan.lookedAt);
}

// A helper thread: lists folders as they are handed out, until the scan ends.
void runLister(Scan& scan, Lister& lister) {
  ScanLock lock(scan.lock, std::defer_lock);
  takeScanLock(lock);
  lister.clock = clockOfThisThread();
  lister.processorAtLook = processorTimeOf(lister.clock);
  while (!scan.stopping && !scan.tree.finished) {
    if (HandedOut job = takeFolder(scan); job.folder) {
      listHandedOut(scan, lock, lister, job);
      continue;
    }
    startIdle(scan, lister);
    scan.workToHandOut.wait(lock);
    endIdle(scan, lister);
  }
  releaseThreadClock(lister.clock);
  lister.clock = ThreadClock();
}

// What the helpers did since the last look, as the lister count reads it; the lock is held.
ListingPeriod measurePeriod(Scan& scan, SteadyClock::time_point now) {
  ListingPeriod period;
  period.elapsed = now - scan.lookedAt;
  period.folders = scan.foldersSinceLook;
  period.entries = scan.entriesSinceLook;
  for (auto& lister : scan.helpers) {
    std::chrono::nanoseconds processor = processorTimeOf(lister->clock);
    if (processor > lister->processorAtLook) {
      period.onProcessor += processor - lister->processorAtLook;
      lister->processorAtLook = processor;
    }
    std::chrono::nanoseconds idle = lister->idleSinceLook;
    if (lister->idle) idle += now - std::max(lister->idleSince, scan.lookedAt);
    if (idle < period.elapsed) period.listing += period.elapsed - idle;
    lister->idleSinceLook = std::chrono::nanoseconds(0);
  }
  scan.foldersSinceLook = 0;
  scan.entriesSinceLook = 0;
  scan.lookedAt = now;
  return period;
}

// Starts helper threads until there is one for each folder that may be listed at once, as far as
// the system allows: fewer threads read fewer folders at once, and the report is the same. Called
// by the taker without the lock; the helpers are its own.
void startHelpers(Scan& scan, std::size_t wanted) {
  try {
    while (scan.helpers.size() < wanted) {
      scan.helpers.push_back(std::make_unique<Lister>(scan.listing));
      Lister& lister = *scan.helpers.back();
      lister.thread = std::thread(runLister, std::ref(scan), std::ref(lister));
    }
  } catch (const std::system_error&) {
    if (!scan.helpers.empty() && !scan.helpers.back()->thread.joinable()) scan.helpers.pop_back();
    ScanLock lock(scan.lock);
    scan.count.most = scan.count.limit = std::max<std::size_t>(scan.helpers.size(), 1);
  }
}

// Looks at the listers once in a while, and lets the count follow what they wait for; the lock is
// held on entry and on return.
void lookAtListers(Scan& scan, ScanLock& lock) {
  auto now = SteadyClock::now();
  if (onlyLister(scan) || now - scan.lookedAt < kLookInterval) return;
  // A shortage of handles may have shrunk what can be read at once.
  scan.count.most = std::min(scan.count.most, mostConcurrentReaders(scan.open));
  std::size_t before = scan.count.limit;
  adjustListerCount(scan.count, measurePeriod(scan, now));
  scan.count.limit = std::min(scan.count.limit, scan.count.most);
  if (scan.count.limit <= before) return;
  std::size_t wanted = scan.count.limit;
  lock.unlock();
  startHelpers(scan, wanted);
  takeScanLock(lock);
  wakeListers(scan, 0);
}

void endScan(Scan* scan) {
  {
    ScanLock lock(scan->lock);
    scan->stopping = true;
    scan->workToHandOut.notify_all();
    scan->handleReleased.notify_all();
  }
  for (auto& lister : scan->helpers) lister->thread.join();
  for (auto& kept : scan->open.kept) closeFolderHandle(scan->listing, kept.second.handle);
  for (FolderHandle handle : scan->open.toClose) closeFolderHandle(scan->listing, handle);
  delete scan;
}

}  // namespace

Scan::Scan(const ScanRules& rules, const std::u16string& path, ListingContext& listingContext,
           std::size_t workers)
    : listing(listingContext), tree(path, rules, kWindowFolders), ownLister(listingContext) {
  open.budget = folderHandleBudget(listing);
  count = countListers(workers, std::max(1u, std::thread::hardware_concurrency()),
                       mostConcurrentReaders(open));
}

void noteHandleReleased(Scan& scan) {
  ++scan.handlesReleased;
  if (scan.readersShortOfHandles > 0) scan.handleReleased.notify_all();
}

ScanPtr startScan(const ScanRules& rules, const std::u16string& path, ListingContext& listing,
                  std::size_t workers) {
  ScanPtr scan(new Scan(rules, path, listing, workers), endScan);
  if (!onlyLister(*scan)) startHelpers(*scan, scan->count.limit);
  return scan;
}

bool takeReportLines(Scan& scan, std::vector<ReportLine>& lines, std::chrono::milliseconds wait) {
  auto deadline = SteadyClock::now() + wait;
  ScanLock lock(scan.lock, std::defer_lock);
  takeScanLock(lock);
  for (;;) {
    if (moveReport(scan)) wakeListers(scan, 0);
    if (!scan.ready.empty()) {
      lines.insert(lines.end(), scan.ready.begin(), scan.ready.end());
      scan.ready.clear();
      // The lines just taken make room: the report moves on at once.
      if (moveReport(scan)) wakeListers(scan, 0);
      lookAtListers(scan, lock);
      return true;
    }
    if (scan.tree.finished) return false;
    if (SteadyClock::now() >= deadline) return true;
    if (onlyLister(scan)) {
      if (HandedOut job = takeFolder(scan); job.folder) {
        listHandedOut(scan, lock, scan.ownLister, job);
        continue;
      }
    } else {
      lookAtListers(scan, lock);
    }
    scan.linesReady.wait_until(lock, deadline);
  }
}

void stopScan(Scan& scan, std::vector<ReportLine>& lines) {
  ScanLock lock(scan.lock);
  scan.stopping = true;
  scan.workToHandOut.notify_all();
  scan.handleReleased.notify_all();
  lines.insert(lines.end(), scan.ready.begin(), scan.ready.end());
  scan.ready.clear();
  collectReportLines(scan.tree, lines);
}

FolderTotals treeTotals(const Scan& scan) {
  return scan.tree.topTotals;
}

bool topFolderListed(const Scan& scan) {
  return scan.tree.topListed;
}

ScanCounts countsSoFar(Scan& scan) {
  ScanLock lock(scan.lock, std::defer_lock);
  takeScanLock(lock);
  bool everyListerWaits = scan.beingListed == 0 && scan.idleListers == scan.helpers.size();
  return {scan.listed, scan.counted.entryCount, scan.counted.totalBytes,
          pathTheReportWaitsFor(scan.tree),
          everyListerWaits && scan.ready.size() >= kMostReadyLines};
}
