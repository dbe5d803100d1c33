// The folders a scan holds open, so that their subfolders are opened relative to them: a cache of
// FolderHandles within a budget. The scan's coordinator owns one; nothing here makes a system
// call, and handles given up wait in `toClose` until a lister closes them along with its next job,
// or the scan's end does.
//
// Invariants:
// - `held` counts every handle the scan holds: the kept ones, and those reserved for jobs out. A
//   reservation past the budget happens only when no job is out that would release one.
// - A kept folder is in `idle` exactly while nobody uses its handle, least recently used first;
//   only an idle handle is given up.
// - A kept folder goes once all its subfolders are done and nobody uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

#include "platform/listing.h"

struct FolderNode;

struct OpenFolders {
  struct Kept {
    FolderHandle handle = kNoFolderHandle;
    std::size_t users = 0;
    bool subfoldersDone = false;
    std::list<const FolderNode*>::iterator inIdle;
  };
  std::size_t budget = 0;  // 0: the platform opens every folder by its whole path
  std::size_t held = 0;
  std::unordered_map<const FolderNode*, Kept> kept;
  std::list<const FolderNode*> idle;
  std::vector<FolderHandle> toClose;
};

// Whether folders are kept at all: where they are not, each is opened by its whole path.
bool keepsFolders(const OpenFolders& open);

// How many listings can be out at once within the budget: each holds the folder it reads, uses the
// one it was opened from, and where that was given up, holds its parent opened again and for a
// while one more on a long way down.
std::size_t mostListingsAtOnce(const OpenFolders& open);

bool isKept(const OpenFolders& open, const FolderNode* folder);

// The handle kept for `folder`, in use by the caller until letGo; kNoFolderHandle when none is.
FolderHandle useKept(OpenFolders& open, const FolderNode* folder);
// True when the handle went with it, its folder's subfolders being done.
bool letGo(OpenFolders& open, const FolderNode* folder);

// Counts one more handle against the budget, giving up the least recently used idle one when the
// budget is spent; false when neither can be done.
bool reserveHandle(OpenFolders& open);
void releaseHandle(OpenFolders& open);

// The process ran out of handles before the budget did: the budget shrinks to what is held, and
// one idle handle is given up to make room; false when none could be.
bool makeRoomAfterShortage(OpenFolders& open);

// The reserved handle of a folder just read stays open for its subfolders.
void keepHandle(OpenFolders& open, const FolderNode* folder, FolderHandle handle);

// Every subfolder of `folder` has been read: what was kept for it goes once nobody uses it. True
// when a handle went now.
bool doneWithSubfolders(OpenFolders& open, const FolderNode* folder);
