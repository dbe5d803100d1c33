// The threads of a scan. With one worker, the calling thread lists every folder itself and
// reports as it goes. With more, that many helper threads list folders, and whichever finishes the
// folder the report waits for moves the report on; the calling thread only writes. Either way the
// calling thread alone writes the report, outside the lock, and the FolderTree decides which folder
// is listed next and which lines are ready.
#include "scan/scan.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "paths/paths.h"
#include "scan/folder_tree.h"

namespace {

// Folders handed out ahead of the report, per worker.
static const std::size_t kWindowPerWorker = getenv("TMW") ? atoi(getenv("TMW")) : 64;
// Lines ready and not yet written beyond which the report waits for the writer: a slow reader of
// the report holds the scan back instead of letting lines pile up.
constexpr std::size_t kMostReadyLines = 4096;

// What the threads of one scan share, under `lock`.
struct SharedScan {
  SharedScan(const std::u16string& path, const ScanRules& rules, ListingContext& listingContext,
             std::size_t workerCount)
      : tree(path, rules, kWindowPerWorker * workerCount),
        listing(listingContext),
        workers(workerCount) {}

  std::mutex lock;
  std::condition_variable workToHandOut;
  std::condition_variable linesReady;
  FolderTree tree;
  ListingContext& listing;
  std::size_t workers;
  std::vector<ReportLine> ready;  // passed by the report's cursor, not yet written
  bool stopping = false;
};

// Moves the report on as far as the listed folders let it, and wakes the writer when there are
// lines for it.
void moveReport(SharedScan& scan) {
  if (scan.ready.size() >= kMostReadyLines) return;
  std::size_t readyBefore = scan.ready.size();
  if (collectReportLines(scan.tree, scan.ready) &&
      (scan.ready.size() > readyBefore || scan.tree.finished)) {
    scan.linesReady.notify_one();
  }
}

// Wakes listers for folders waiting to be handed out, leaving `taken` of them to this thread.
void wakeListers(SharedScan& scan, std::size_t taken) {
  std::size_t wanted = scan.tree.waiting > taken ? scan.tree.waiting - taken : 0;
  for (std::size_t i = 0; i < wanted && i < scan.workers; ++i) scan.workToHandOut.notify_one();
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

// Lists a folder handed out from the tree and records its outcome; the lock is held on entry and
// on return.
void listHandedOut(SharedScan& scan, std::unique_lock<std::mutex>& lock, FolderLister& lister,
                   const HandedOut& job) {
  FolderState outcome = listFolder(scan, lock, lister, *job.folder);
  ListingOutcome finished = finishListing(scan.tree, job, outcome);
  // Every subfolder of the parent has been read: nothing more is opened relative to it.
  if (finished.lastOfParent) doneWithSubfolders(scan.listing, job.parent->ref);
  if (finished.reportWaits) moveReport(scan);
  wakeListers(scan, 1);
}

// A helper thread: lists folders as they are handed out, until the scan ends.
void listFolders(SharedScan& scan) {
  FolderLister lister;
  std::unique_lock<std::mutex> lock(scan.lock);
  while (!scan.stopping && !scan.tree.finished) {
    HandedOut job = handOutFolder(scan.tree);
    if (job.folder) {
      listHandedOut(scan, lock, lister, job);
    } else {
      scan.workToHandOut.wait(lock);
    }
  }
}

// Writes the lines the cursor passed; false once the report can no longer be written.
bool writeReportLines(ReportWriter& writer, const std::vector<ReportLine>& lines) {
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
  return writer.output.failure == 0;
}

// Starts up to `count` helper threads; as many as the system allows.
std::vector<std::thread> startHelpers(SharedScan& scan, std::size_t count) {
  std::vector<std::thread> helpers;
  try {
    while (helpers.size() < count) helpers.emplace_back(listFolders, std::ref(scan));
  } catch (const std::system_error&) {
    // Fewer threads read fewer folders at once; the report is the same.
  }
  return helpers;
}

}  // namespace

std::size_t defaultWorkerCount() {
  return std::max(1u, std::thread::hardware_concurrency());
}

FolderTotals scanFolder(const ScanRules& rules, const std::u16string& path, ReportWriter& writer,
                        std::size_t workers) {
  ListingContextPtr listing = makeListingContext();
  workers = std::max<std::size_t>(1, std::min(workers, mostConcurrentReaders(*listing)));
  SharedScan scan(path, rules, *listing, workers);
  std::vector<std::thread> helpers = startHelpers(scan, workers > 1 ? workers : 0);
  FolderLister lister;
  std::vector<ReportLine> lines;
  std::unique_lock<std::mutex> lock(scan.lock);
  for (;;) {
    moveReport(scan);
    wakeListers(scan, 0);
    if (!scan.ready.empty()) {
      lines.swap(scan.ready);
      lock.unlock();
      bool written = writeReportLines(writer, lines);
      lines.clear();
      lock.lock();
      if (!written) break;
    } else if (scan.tree.finished) {
      break;
    } else if (helpers.empty()) {
      listHandedOut(scan, lock, lister, handOutFolder(scan.tree));
    } else {
      scan.linesReady.wait(lock);
    }
  }
  scan.stopping = true;
  scan.workToHandOut.notify_all();
  lock.unlock();
  for (std::thread& helper : helpers) helper.join();
  return scan.tree.topTotals;
}
