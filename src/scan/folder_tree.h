// The folders of one scan that are in flight: waiting to be listed, being listed, listed and
// waiting for their subfolders, or finished and waiting for their turn in the report. The scan's
// coordinator owns one FolderTree; nothing here locks, waits or touches the file system, so any
// order in which listings finish can be played through it.
//
// Invariants:
// - A folder's `subfolders` are the subfolders its listing descends into, in listing order, set
//   with its outcome. subfolders[0, nextToList) have been handed out to be listed, in that order;
//   the others wait.
// - A folder is handed out once, and its outcome recorded once.
// - The report cursor walks the tree depth first, each folder's subfolders in listing order, and
//   passes a folder's row once all its subfolders are passed: the lines it passes are those a scan
//   of one folder at a time prints, in the same order. What lies behind it is reported and freed.
// - Only the cursor frees a folder, after all its subfolders: a folder outlives its descendants.
// - Names never change once made, and are shared with the report's lines: a line holds no path,
//   only its folder's name, from which the path is formed when the line is written.
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

// A folder's name in its folder, and that folder's: all it takes to form its path. Never changed
// once made.
struct FolderName {
  // Lets go of the names above one at a time: a chain of any depth never reaches the machine
  // stack.
  ~FolderName();
  std::u16string name;                 // for the top, its whole path in the form the platform lists
  std::shared_ptr<FolderName> parent;  // null for the top
  std::size_t depth = 0;               // 0 for the top
};

using FolderNamePtr = std::shared_ptr<FolderName>;

enum class FolderState : std::uint8_t { Waiting, Listing, Listed, Failed, NotEntered };
enum class IdentityState : std::uint8_t { NotLookedUp, LookingUp, Known, Unavailable };

struct FolderNode {
  FolderNode* parent = nullptr;  // null for the top
  FolderNamePtr name;
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
  FolderNamePtr folder;
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
  // The cursor's way down: each folder with the subfolder it reports next.
  struct Level {
    FolderNode* folder;
    std::size_t next;
  };
  std::vector<Level> cursor;
  std::size_t handedOut = 0;  // handed out and not yet reported
  std::size_t waiting = 0;    // in the subfolders of listed folders, not yet handed out
  bool finished = false;      // the cursor has passed the top's row
  bool topListed = false;     // the top's listing could be read, once it has its outcome
  FolderTotals topTotals;     // the whole tree's, once finished
  std::vector<std::pair<FolderNode*, std::size_t>> search;  // scratch for handOutFolder
};

// A new subfolder of `folder`, found in its listing as `name`.
std::unique_ptr<FolderNode> makeSubfolder(FolderNode& folder, std::u16string name);

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

// Whether `folder` is the one the report waits for next.
bool reportWaitsFor(const FolderTree& tree, const FolderNode* folder);

// Records the outcome of listing a folder that was handed out: Listed, Failed or NotEntered.
ListingOutcome finishListing(FolderTree& tree, const HandedOut& listed, FolderState outcome);

// Moves the cursor as far as the listed folders let it, appending the lines it passes to `lines`
// while fewer than `room` are there; false when it could not move.
bool collectReportLines(FolderTree& tree, std::vector<ReportLine>& lines,
                        std::size_t room = static_cast<std::size_t>(-1));

// The name of the folder the report waits for: the subfolder the cursor is at, or the folder
// whose row comes next; null once the report is finished.
FolderNamePtr folderTheReportWaitsFor(const FolderTree& tree);

// Forms the paths of names one after the other, each from the one before: report lines come in
// depth-first post-order, so that a path differs from the one before in its last few names, and
// forming every line's path of a chain of any depth costs no more than its length.
struct PathFormer {
  std::vector<FolderNamePtr> way;    // the names of `path`, from the top
  std::vector<std::size_t> lengths;  // of `path` up to and including each of them
  std::u16string path;
};

// The path of `folder`, in the form the platform lists, valid until the next call.
const std::u16string& formPath(PathFormer& former, const FolderNamePtr& folder);
