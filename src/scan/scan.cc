// The threads of a scan. The FolderTree decides which folder is listed next and which lines of
// the report are ready; one lock guards it and the listing context. Listers take folders from the
// tree, read them without the lock, and record what they found; whichever finishes the folder the
// report waits for moves the report on. The calling thread alone writes the report, outside the
// lock. With one lister, the calling thread is that lister too and reports as it goes: the scan of
// one folder at a time.
#include "scan/scan.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "paths/paths.h"
#include "scan/folder_tree.h"

namespace {

// Folders handed out ahead of the report: enough for the listers not to wait for the report while
// a large folder holds it up, and a bound on memory whatever the tree.
constexpr std::size_t kWindowFolders = 2048;
// Lines ready and not yet written beyond which the report waits for the writer: a slow reader of
// the report holds the scan back instead of letting lines pile up.
constexpr std::size_t kMostReadyLines = 4096;
constexpr std::size_t kLinesWorthWaking = 256;
// Listers a scan that chooses for itself may grow to, while they wait on the disk or the network
// rather than on the processors (measured: a cold /usr on 2 cores scans in a third of the time
// with 16 than with 2, and no faster with more).
constexpr std::size_t kMostListers = 16;
// How often the writer looks for lines that did not wake it, for the status line, and for how
// often the listers wait.
constexpr auto kLookInterval = std::chrono::milliseconds(20);

// What the threads of one scan share, under `lock`.
struct SharedScan {
  SharedScan(const std::u16string& path, const ScanRules& rules, ListingContext& listingContext)
      : tree(path, rules, kWindowFolders), listing(listingContext) {}

  std::mutex lock;
  std::condition_variable workToHandOut;
  std::condition_variable linesReady;
  FolderTree tree;
  ListingContext& listing;
  std::vector<ReportLine> ready;  // passed by the report's cursor, not yet written
  std::size_t beingListed = 0;    // folders being listed right now
  std::size_t mostListing = 1;    // how many may be
  std::uint64_t listed = 0;       // folders listed so far
  FolderTotals counted;           // their own entries
  bool stopping = false;
};

// Moves the report on as far as the listed folders let it. The writer is woken when the report is
// complete or a good number of lines wait for it; otherwise it finds them when it next looks, at
// most a fiftieth of a second later: waking it for every line or two would cost the listers a
// sixth of their time in a report with a row for every folder.
void moveReport(SharedScan& scan) {
  if (scan.ready.size() >= kMostReadyLines) return;
  if (collectReportLines(scan.tree, scan.ready) &&
      (scan.ready.size() >= kLinesWorthWaking || scan.tree.finished)) {
    scan.linesReady.notify_one();
  }
}

// Wakes listers for folders waiting to be handed out, leaving `taken` of them to this thread.
void wakeListers(SharedScan& scan, std::size_t taken) {
  std::size_t wanted = scan.tree.waiting > taken ? scan.tree.waiting - taken : 0;
  for (std::size_t i = 0; i < wanted && i < scan.mostListing; ++i) scan.workToHandOut.notify_one();
}

// What one thread that lists folders owns.
struct FolderLister {
  FolderReaderPtr reader = makeFolderReader();
  FindEntry entry;  // reused from entry to entry, and so is the capacity of its name
};

std::unique_ptr<FolderNode> subfolderOf(const FolderNode& folder, const FindEntry& entry) {
  auto subfolder = std::make_unique<FolderNode>();
  subfolder->ref.parent = &folder.ref;
  subfolder->ref.name = entry.name;
  subfolder->ref.throughReparsePoint = (entry.attributes & kReparsePointAttribute) != 0;
  subfolder->ref.identity = entry.identity;
  subfolder->ref.identityState = entry.identityState;
  return subfolder;
}

// Lists one folder: the totals of its own entries and the subfolders to descend into, in listing
// order. The lock is held on entry and on return, and let go while the folder is read.
FolderState listFolder(SharedScan& scan, std::unique_lock<std::mutex>& lock, FolderLister& lister,
                       FolderNode& folder) {
  switch (openFolder(scan.listing, lock, *lister.reader, folder.ref, folder.errorCode)) {
    case FolderOpening::Failed:
      return FolderState::Failed;
    case FolderOpening::NotEntered:
      return FolderState::NotEntered;
    case FolderOpening::Opened:
      break;
  }
  while (readEntry(*lister.reader, lister.entry)) {
    countEntry(lister.entry, scan.tree.rules, folder.totals);
    if (shouldDescend(lister.entry, scan.tree.rules)) {
      folder.subfolders.push_back(subfolderOf(folder, lister.entry));
    }
  }
  closeFolder(scan.listing, lock, *lister.reader, folder.ref, !folder.subfolders.empty());
  return FolderState::Listed;
}

// Takes the next folder to list, when one may be listed now; the lock is held.
HandedOut takeFolder(SharedScan& scan) {
  if (scan.beingListed >= scan.mostListing) return {};
  HandedOut job = handOutFolder(scan.tree);
  if (job.folder) ++scan.beingListed;
  return job;
}

// Lists a folder handed out from the tree and records its outcome; the lock is held on entry and
// on return.
void listHandedOut(SharedScan& scan, std::unique_lock<std::mutex>& lock, FolderLister& lister,
                   const HandedOut& job) {
  FolderState outcome = listFolder(scan, lock, lister, *job.folder);
  --scan.beingListed;
  ++scan.listed;
  mergeTotals(scan.counted, job.folder->totals);
  ListingOutcome finished = finishListing(scan.tree, job, outcome);
  // Every subfolder of the parent has been read: nothing more is opened relative to it.
  if (finished.lastOfParent) doneWithSubfolders(scan.listing, job.parent->ref);
  if (finished.reportWaits) moveReport(scan);
  wakeListers(scan, 1);
}

// A helper thread: lists folders as they are handed out, until the scan ends.
void listFolders(SharedScan& scan) {
  FolderLister lister;
  std::unique_lock<std::mutex> lock(scan.lock, std::defer_lock);
  takeScanLock(lock);
  while (!scan.stopping && !scan.tree.finished) {
    HandedOut job = takeFolder(scan);
    if (job.folder) {
      listHandedOut(scan, lock, lister, job);
    } else {
      scan.workToHandOut.wait(lock);
    }
  }
}

// Writes the lines the cursor passed, with the status line out of their way; false once the
// report can no longer be written.
bool writeReportLines(ReportWriter& writer, const std::vector<ReportLine>& lines) {
  if (writer.status.sharesWithReport) eraseStatusLine(writer.status);
  for (const ReportLine& line : lines) {
    if (line.isError) {
      printFolderError(writer, line.path, line.errorCode);
    } else {
      printReportRow(writer, toDisplayPath(line.path.c_str()),
                     static_cast<std::uint64_t>(line.totals.totalBytes),
                     static_cast<std::uint64_t>(line.totals.bytesOnDisk), line.totals.entryCount,
                     line.totals.latestWrite);
    }
  }
  if (writer.status.sharesWithReport) {
    flushOutput(writer.output);
    redrawStatusLine(writer.status);
  }
  return writer.output.failure == 0;
}

// Draws the status line when it is due, from what the scan has counted; the lock is held on
// entry and on return, and let go while the line is drawn.
void showProgress(SharedScan& scan, std::unique_lock<std::mutex>& lock, StatusLine& status) {
  if (!status.onTerminal || !statusLineDue(status, StatusLine::Clock::now())) return;
  ScanProgress progress = {scan.listed, scan.counted.entryCount, scan.counted.totalBytes,
                           toDisplayPath(pathTheReportWaitsFor(scan.tree).c_str())};
  lock.unlock();
  drawStatusLine(status, progress);
  takeScanLock(lock);
}

// How many listers a scan keeps, and for one that chooses, the measure it chooses by: listers that
// wait for the disk or the network (give up their processor about once a folder or more) keep
// more reads in flight when there are more of them; listers that do not, only take turns on the
// processors. A warm /usr gives up a processor once in twenty folders, a cold one more than once
// a folder.
struct ListerCount {
  bool chooses;
  std::size_t processors;
  std::size_t most;
  std::chrono::steady_clock::time_point lookedAt;
  std::uint64_t waitsThen;
  std::uint64_t listedThen;
};

constexpr double kWaitsPerFolderForMore = 0.3;
constexpr double kWaitsPerFolderForFewer = 0.1;

ListerCount countListers(std::size_t workers, std::size_t mostReaders) {
  std::size_t processors = std::max(1u, std::thread::hardware_concurrency());
  bool chooses = workers == kScanChoosesWorkers;
  std::size_t most = std::min(chooses ? std::max(kMostListers, processors) : workers, mostReaders);
  most = std::max<std::size_t>(most, 1);
  return {chooses, std::min(processors, most), most, std::chrono::steady_clock::now(), waitsSoFar(),
          0};
}

// The number of folders that may be listed at once: at first one per processor, or as given.
std::size_t firstListerLimit(const ListerCount& count) {
  return count.chooses ? count.processors : count.most;
}

// Doubles the listers while they wait on the system often, and halves them, down to one per
// processor, while they seldom do.
void adjustListerLimit(ListerCount& count, SharedScan& scan) {
  if (!count.chooses) return;
  auto now = std::chrono::steady_clock::now();
  if (now - count.lookedAt < kLookInterval) return;
  std::uint64_t waits = waitsSoFar();
  double waitsPerFolder = static_cast<double>(waits - count.waitsThen) /
                          static_cast<double>(scan.listed - count.listedThen + 1);
  count.lookedAt = now;
  count.waitsThen = waits;
  count.listedThen = scan.listed;
  if (waitsPerFolder > kWaitsPerFolderForMore && scan.mostListing < count.most) {
    scan.mostListing = std::min(count.most, scan.mostListing * 2);
    wakeListers(scan, 0);
  } else if (waitsPerFolder < kWaitsPerFolderForFewer && scan.mostListing > count.processors) {
    scan.mostListing = std::max(count.processors, scan.mostListing / 2);
  }
}

// Starts helper threads until there is one for each folder that may be listed at once, as far as
// the system allows: fewer threads read fewer folders at once, and the report is the same.
void startHelpers(std::vector<std::thread>& helpers, SharedScan& scan) {
  if (scan.mostListing < 2) return;
  try {
    while (helpers.size() < scan.mostListing) helpers.emplace_back(listFolders, std::ref(scan));
  } catch (const std::system_error&) {
    scan.mostListing = std::max<std::size_t>(helpers.size(), 1);
  }
}

}  // namespace

FolderTotals scanFolder(const ScanRules& rules, const std::u16string& path, ReportWriter& writer,
                        std::size_t workers) {
  ListingContextPtr listing = makeListingContext();
  SharedScan scan(path, rules, *listing);
  ListerCount count = countListers(workers, mostConcurrentReaders(*listing));
  scan.mostListing = firstListerLimit(count);
  std::vector<std::thread> helpers;
  FolderLister lister;
  std::vector<ReportLine> lines;
  std::unique_lock<std::mutex> lock(scan.lock, std::defer_lock);
  takeScanLock(lock);
  for (;;) {
    startHelpers(helpers, scan);
    moveReport(scan);
    if (!scan.ready.empty()) {
      lines.swap(scan.ready);
      lock.unlock();
      bool written = writeReportLines(writer, lines);
      lines.clear();
      takeScanLock(lock);
      if (!written) break;
    } else if (scan.tree.finished) {
      break;
    } else if (HandedOut job = helpers.empty() ? takeFolder(scan) : HandedOut(); job.folder) {
      // The only lister: this thread lists the folder the report waits for.
      listHandedOut(scan, lock, lister, job);
    } else {
      scan.linesReady.wait_for(lock, kLookInterval);
    }
    adjustListerLimit(count, scan);
    showProgress(scan, lock, writer.status);
  }
  scan.stopping = true;
  scan.workToHandOut.notify_all();
  lock.unlock();
  for (std::thread& helper : helpers) helper.join();
  eraseStatusLine(writer.status);
  return scan.tree.topTotals;
}
