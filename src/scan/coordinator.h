// The one owner of a scan's traversal state: the folder tree with the report's cursor and its
// window, the open folders with their budget and pins, and the lister count. It hands out jobs,
// takes in what listers found, rules out loops, keeps or gives up handles, and moves the report
// on. It makes no system call and knows no thread: the scan's threads carry its jobs to listers
// and their results back (scan.cc), and a test can play any order of results through it.
//
// Invariants:
// - Every handle the scan holds is in exactly one place: kept in `open`, waiting in `open.toClose`
//   or in a job's `toClose` to be closed, or in a job's way or result on its way back. `open.held`
//   counts the kept ones and those reserved for jobs out (each job's JobHolds says how many).
// - A folder handed out from the tree waits for identities, waits for handles, is in a job out, or
//   has its outcome: it is in at most one of `waitingForIdentities`, `waitingForHandles`,
//   `readyToList` and the jobs out, and is finished in the tree once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

#include "scan/folder_tree.h"
#include "scan/lister.h"
#include "scan/lister_count.h"
#include "scan/open_folders.h"
#include "scan/totals.h"

// What the coordinator knows of the platform it hands jobs out for.
struct ListingLimits {
  std::size_t handleBudget = 0;  // 0: folders are opened by their whole paths, never kept
  std::size_t longestPathOpenedAtOnce = 0;
  std::uint32_t loopErrorCode = 0;
  std::uint32_t replacedFolderErrorCode = 0;
};

struct Coordinator {
  Coordinator(const ScanRules& rules, const std::u16string& topPath, std::size_t window,
              const ListingLimits& limits, std::size_t listers, std::size_t processors);
  Coordinator(const Coordinator&) = delete;
  Coordinator& operator=(const Coordinator&) = delete;

  const ListingLimits limits;
  FolderTree tree;
  OpenFolders open;
  ListerCount count;

  std::size_t jobsOut = 0;  // listings and lookups handed out whose results have not come back
  // For each lookup out, the folders whose identities it looks up, in the order of its paths.
  std::unordered_map<const FolderNode*, std::vector<FolderNode*>> lookingUp;
  std::vector<HandedOut> waitingForIdentities;  // for lookups out
  std::deque<HandedOut> waitingForHandles;      // handed out, but no handle to spare yet
  std::deque<HandedOut> readyToList;            // identities known: listed next

  ScanProgress progress;  // folders listed and their entries and bytes; the rest is the scan's
  std::chrono::steady_clock::time_point lastListingAt;
  double meanListingSeconds = 0;  // over the listings lately, the newest weighing most
  // When the count's limit last reached the listers: the scan sets it.
  std::chrono::steady_clock::time_point limitAppliedAt;
};

// The next job, when one may be handed out now: as many are out as may be in flight within the
// count's limit, and more waiting for a lister, a few milliseconds of listing. False when there
// is none.
bool handOutJob(Coordinator& coordinator, ListingJob& job);

// Takes in what a lister found, and what the job held.
void takeResult(Coordinator& coordinator, ListingResult& result);

// Every handle the coordinator holds, kept or given up, taken from it to be closed at the scan's
// end.
std::vector<FolderHandle> takeEveryHandle(Coordinator& coordinator);
