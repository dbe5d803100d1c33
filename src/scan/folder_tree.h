// The folders of one scan that are in flight: waiting to be listed, being listed, listed and
// waiting for their subfolders, or finished and waiting for their turn in the report. The threads
// of a scan share one FolderTree under one lock; nothing here locks, waits or touches the file
// system, so any order in which listings finish can be played through it.
//
// Invariants:
// - A folder's `subfolders` are the subfolders its listing descends into, in listing order, set
//   with its outcome. subfolders[0, nextToList) have been handed out to be listed, in that order;
//   the others wait.
// - A folder is handed out once. Until finishListing, the thread listing it owns its totals,
//   subfolders and error code; from then on only the report cursor changes them.
// - The report cursor walks the tree depth first, each folder's subfolders in listing order, and
//   passes a folder's row once all its subfolders are passed: the lines it passes are those a scan
//   of one folder at a time prints, in the same order. What lies behind it is reported and freed.
// - Only the cursor frees a folder, after all its subfolders: a folder outlives its descendants,
//   so whoever lists a folder may read its ancestors' names without the lock. Identities are set
//   when a folder is made (from its parent's listing) and for the top when it is listed; an
//   identity looked up later, to rule out a loop, is recorded under the scan's lock.
// - Beyond the folders on the cursor's way down, at most `window` folders are handed out and not
//   yet reported, besides the one the report waits for: memory stays flat whatever the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/listing.h"
#include "scan/totals.h"

enum class FolderState : std::uint8_t { Waiting, Listing, Listed, Failed, NotEntered };
enum class IdentityState : std::uint8_t { NotLookedUp, Known, Unavailable };

struct FolderNode {
  FolderNode* parent = nullptr;  // null for the top
  // The folder's name in its parent; for the top, its whole path in the form the platform lists.
  std::u16string name;
  bool throughReparsePoint = false;  // reached through a link, junction or mount point
  FolderIdentity identity;
  IdentityState identityState = IdentityState::NotLookedUp;
  FolderState state = FolderState::Waiting;
  std::uint32_t errorCode = 0;  // why it could not be listed (Failed)
  // Its own entries once listed; its whole tree once the cursor has passed its subfolders.
  FolderTotals totals;
  std::vector<std::unique_ptr<FolderNode>> subfolders;
  std::size_t nextToList = 0;
  std::size_t subfoldersListed = 0;  // whose listing has an outcome
};

// A line the cursor passed: a folder's row, or the error line of a folder that cannot be listed.
struct ReportLine {
  bool isError = false;
  std::u16string path;  // in the form the platform lists
  FolderTotals totals;
  std::uint32_t errorCode = 0;
};

struct FolderTree {
  explicit FolderTree(const std::u16string& topPath, const ScanRules& rules, std::size_t window);
  FolderTree(const FolderTree&) = delete;
  FolderTree& operator=(const FolderTree&) = delete;
  // Frees what is still in flight one folder at a time: a chain of any depth never reaches the
  // machine stack.
  ~FolderTree();

  const ScanRules rules;
  const std::size_t window;
  std::unique_ptr<FolderNode> top;
  // The cursor's way down: each folder with the subfolder it reports next and the length of its
  // path in `path`.
  struct Level {
    FolderNode* folder;
    std::size_t next;
    std::size_t pathLength;
  };
  std::vector<Level> cursor;
  std::u16string path;        // of the innermost folder on the cursor's way
  std::size_t handedOut = 0;  // handed out and not yet reported
  std::size_t waiting = 0;    // in the subfolders of listed folders, not yet handed out
  bool finished = false;      // the cursor has passed the top's row
  FolderTotals topTotals;     // the whole tree's, once finished
  bool topListed = false;     // the top could be listed; known once finished
  std::vector<std::pair<FolderNode*, std::size_t>> search;  // scratch for handOutFolder
};

struct HandedOut {
  FolderNode* folder = nullptr;
  FolderNode* parent = nullptr;  // null for the top
};

struct ListingOutcome {
  bool reportWaits = false;   // the report waits for this folder
  bool lastOfParent = false;  // every subfolder of the folder's parent has its outcome
};

// The next folder to list: the one the report waits for; otherwise, while the window allows, the
// first waiting folder after the cursor in depth-first order. No folder when there is none.
HandedOut handOutFolder(FolderTree& tree);

// Records the outcome of listing a folder that was handed out: Listed, Failed or NotEntered.
ListingOutcome finishListing(FolderTree& tree, const HandedOut& listed, FolderState outcome);

// Moves the cursor as far as the listed folders let it, appending the lines it passes to `lines`;
// false when it could not move.
bool collectReportLines(FolderTree& tree, std::vector<ReportLine>& lines);

// The path (in the form the platform lists) of the folder the report waits for: the subfolder the
// cursor is at, or the folder whose row comes next.
std::u16string pathTheReportWaitsFor(const FolderTree& tree);
