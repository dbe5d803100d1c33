// What the threads of one scan share, and what each of them owns. Inside the scan only.
//
// One lock, `Scan::lock`, guards everything in Scan and the measuring fields of each Lister; it
// never leaves the scan. Listers take folders from the tree and give back what they found under
// the lock, and make their system calls without it. The thread that takes the report's lines owns
// the helper threads (starting and joining them) and decides how many folders are listed at once.
//
// Waking is one rule: every change that can let a folder be handed out (a listing finishing, the
// report moving on, the limit growing) wakes idle listers through wakeListers, and the scan
// stopping wakes them all.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/listing.h"
#include "scan/folder_tree.h"
#include "scan/lister_count.h"
#include "scan/open_folders.h"
#include "scan/scan.h"

using ScanLock = std::unique_lock<std::mutex>;
using SteadyClock = std::chrono::steady_clock;

// One thread that lists folders: what it owns, and, under the scan's lock, what the scan measures
// of it.
struct Lister {
  explicit Lister(ListingContext& listing) : reader(makeFolderReader(listing)) {}
  FolderReaderPtr reader;
  FindEntry entry;  // reused from entry to entry, and so is the capacity of its name
  std::vector<FolderHandle>
      toClose;         // given up by the scan, closed by this lister without the lock
  std::thread thread;  // none for the thread that takes the lines
  // Measured: its processor time at the last look, and the time it spent waiting for a folder to
  // list since then.
  ThreadClock clock;
  std::chrono::nanoseconds processorAtLook{0};
  std::chrono::nanoseconds idleSinceLook{0};
  bool idle = false;
  SteadyClock::time_point idleSince;
};

struct Scan {
  Scan(const ScanRules& rules, const std::u16string& path, ListingContext& listingContext,
       std::size_t workers);
  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  std::mutex lock;
  // Idle listers wait here until a folder can be handed out to them or the scan stops.
  std::condition_variable workToHandOut;
  // The thread that takes the lines waits here, no longer than it asked, until enough lines are
  // ready to be worth waking for, or the report is complete.
  std::condition_variable linesReady;
  // A lister short of handles waits here until another releases one, or every lister waits so.
  std::condition_variable handleReleased;

  ListingContext& listing;
  FolderTree tree;
  OpenFolders open;
  ListerCount count;
  std::vector<ReportLine> ready;  // passed by the report's cursor, not yet taken
  std::size_t beingListed = 0;    // folders handed out and not yet finished
  std::size_t idleListers = 0;    // waiting on workToHandOut
  std::size_t readers = 0;        // listers between taking a way to a folder and finishing it
  std::size_t readersShortOfHandles = 0;
  std::uint64_t handlesReleased = 0;  // counts every release, for those waiting for one
  std::uint64_t listed = 0;           // folders listed so far
  FolderTotals counted;               // their own entries
  std::uint64_t foldersSinceLook = 0;
  std::uint64_t entriesSinceLook = 0;
  SteadyClock::time_point lookedAt = SteadyClock::now();
  bool stopping = false;

  // Owned by the thread that takes the lines.
  std::vector<std::unique_ptr<Lister>> helpers;
  Lister ownLister;  // lists when it is the only lister
};

// Takes the scan's lock. A thread that finds it taken tries again for a while, giving way to
// others, before it sleeps: every lister holds the lock for a moment once a folder, and sleeping
// and being woken cost far more than that (measured on 2 cores: without the retries a warm /usr
// scanned 5% slower, and a tree of small folders 20% slower).
inline void takeScanLock(ScanLock& lock) {
  for (int tries = 0; tries < 100; ++tries) {
    if (lock.try_lock()) return;
    std::this_thread::yield();
  }
  lock.lock();
}

// Lists one folder handed out from the tree: its own totals and the subfolders to descend into,
// or why it could not be listed (Failed, with its error code) or was not entered. The lock is held
// on entry and on return, and let go around the system's work.
FolderState listFolder(Scan& scan, ScanLock& lock, Lister& lister, FolderNode& folder);

// A handle was released or given up: a lister waiting for one may go on.
void noteHandleReleased(Scan& scan);
