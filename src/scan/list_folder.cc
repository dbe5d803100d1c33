// Listing one folder: ruling out a loop through a reparse point, the way to the folder from one
// held open, opening it within the scan's handles, the checks that it is the folder that was
// listed and may be entered, and reading its entries. Decisions and bookkeeping are made under the
// scan's lock; the system's work is done without it.
#include <algorithm>
#include <utility>

#include "paths/paths.h"
#include "scan/scan_state.h"

namespace {

// How a folder is reached: by name from its parent's handle; where the parent's handle was given
// up, from a kept ancestor (in use meanwhile) or the top's path down to the parent, which is then
// kept again for its other subfolders; where folders are not kept, by its whole path.
struct Way {
  bool keeps = false;                // the scan keeps folders open at all
  const FolderNode* from = nullptr;  // the kept folder in use; null: the top's path
  FolderHandle base = kNoFolderHandle;
  bool reopensParent = false;
};

// The folders from the top down to `folder`.
std::vector<FolderNode*> wayFromTheTop(FolderNode& folder) {
  std::vector<FolderNode*> way;
  for (FolderNode* step = &folder; step; step = step->parent) way.push_back(step);
  std::reverse(way.begin(), way.end());
  return way;
}

// Looks up, without the lock, the identities of the folders on the way to `folder` that are not
// known yet (on Windows, none is until looked up), and records them under it.
void lookUpIdentities(Scan& scan, ScanLock& lock, FolderNode& folder) {
  std::vector<FolderNode*> way = wayFromTheTop(folder);
  if (std::none_of(way.begin(), way.end(), [](const FolderNode* step) {
        return step->identityState == IdentityState::NotLookedUp;
      })) {
    return;
  }
  std::vector<std::pair<FolderNode*, FolderIdentity>> found;
  std::vector<FolderNode*> unavailable;
  lock.unlock();
  std::u16string path;
  for (FolderNode* step : way) {
    if (step->parent) {
      appendPathName(path, step->name);
    } else {
      path = step->name;
    }
    if (step->identityState != IdentityState::NotLookedUp) continue;
    FolderIdentity identity;
    if (lookUpFolderIdentity(scan.listing, path, identity)) {
      found.emplace_back(step, identity);
    } else {
      unavailable.push_back(step);
    }
  }
  takeScanLock(lock);
  for (auto& [step, identity] : found) {
    step->identity = identity;
    step->identityState = IdentityState::Known;
  }
  for (FolderNode* step : unavailable) step->identityState = IdentityState::Unavailable;
}

// Whether the reparse point `folder` leads back to a folder on its way from the top; the lock is
// held on entry and on return.
bool leadsBackUp(Scan& scan, ScanLock& lock, FolderNode& folder) {
  lookUpIdentities(scan, lock, folder);
  if (folder.identityState != IdentityState::Known) return false;
  for (const FolderNode* above = folder.parent; above; above = above->parent) {
    if (above->identityState == IdentityState::Known && above->identity == folder.identity) {
      return true;
    }
  }
  return false;
}

// Chooses how `folder` is reached, taking the kept folder it starts from into use; the lock is
// held.
Way chooseWay(Scan& scan, const FolderNode& folder) {
  Way way;
  way.keeps = keepsFolders(scan.open);
  if (!way.keeps || !folder.parent) return way;
  way.from = folder.parent;
  way.base = useKept(scan.open, folder.parent);
  if (way.base != kNoFolderHandle) return way;
  way.reopensParent = true;
  do {
    way.from = way.from->parent;
  } while (way.from && !isKept(scan.open, way.from));
  if (way.from) way.base = useKept(scan.open, way.from);
  return way;
}

// Waits until another lister releases a handle; false at once when every other reader waits for
// one too (none would be released), or the scan stops. The lock is held on entry and on return.
bool waitForReleasedHandle(Scan& scan, ScanLock& lock) {
  if (scan.stopping || scan.readersShortOfHandles + 1 >= scan.readers) return false;
  std::uint64_t seen = scan.handlesReleased;
  ++scan.readersShortOfHandles;
  scan.handleReleased.wait(lock, [&] {
    return scan.handlesReleased != seen || scan.stopping ||
           scan.readersShortOfHandles >= scan.readers;
  });
  --scan.readersShortOfHandles;
  return scan.handlesReleased != seen;
}

// Counts a handle against the budget for a folder about to be opened, waiting while other
// readers may release one. When none would, it is counted past the budget, and the system says
// whether there is room. The lock is held on entry and on return.
void reserveHandleFor(Scan& scan, ScanLock& lock) {
  while (!reserveHandle(scan.open)) {
    if (!waitForReleasedHandle(scan, lock)) {
      ++scan.open.held;
      return;
    }
  }
}

void releaseReservedHandle(Scan& scan) {
  releaseHandle(scan.open);
  noteHandleReleased(scan);
}

// The handles the scan gave up, for this lister to close once it lets the lock go: a close under
// the lock would keep every other lister waiting.
void takeHandlesToClose(Scan& scan, Lister& lister) {
  lister.toClose.insert(lister.toClose.end(), scan.open.toClose.begin(), scan.open.toClose.end());
  scan.open.toClose.clear();
}

void closeHandlesGivenUp(Scan& scan, Lister& lister) {
  for (FolderHandle handle : lister.toClose) closeFolderHandle(scan.listing, handle);
  lister.toClose.clear();
}

// Opens `path` from `base` for reading. When the process runs out of handles first, it makes room
// by giving up a kept one, or waits for another lister to release one, and tries again. Returns 0
// or the system's code. Called without the lock.
std::uint32_t openWithRoom(Scan& scan, Lister& lister, const Way& way, FolderHandle base,
                           const std::u16string& path, bool noFollow) {
  for (;;) {
    closeHandlesGivenUp(scan, lister);
    std::uint32_t error = openFolder(*lister.reader, base, path, noFollow);
    if (error == 0 || !way.keeps || !isOutOfHandles(error)) return error;
    ScanLock lock(scan.lock, std::defer_lock);
    takeScanLock(lock);
    bool room = makeRoomAfterShortage(scan.open) || waitForReleasedHandle(scan, lock);
    takeHandlesToClose(scan, lister);
    if (!room) return error;
  }
}

// The parts of the way down to `folder` from `from` (null: the top's whole path), each a path
// the platform opens at once: the names below `from` joined while they fit.
std::vector<std::u16string> partsOfWay(const FolderNode& folder, const FolderNode* from,
                                       std::size_t longest) {
  std::vector<const FolderNode*> below;
  for (const FolderNode* step = &folder; step != from; step = step->parent) below.push_back(step);
  std::vector<std::u16string> parts(1);
  for (auto step = below.rbegin(); step != below.rend(); ++step) {
    const std::u16string& name = (*step)->name;
    if (!parts.back().empty() && parts.back().size() + 1 + name.size() > longest) {
      parts.emplace_back();
    }
    if (parts.back().empty()) {
      parts.back() = name;
    } else {
      appendPathName(parts.back(), name);
    }
  }
  return parts;
}

// Opens a part of a long way that leads on, and holds it for the next part, counted against the
// budget; kNoFolderHandle with `error` when it cannot be opened.
FolderHandle openPartOfWay(Scan& scan, Lister& lister, const Way& way, FolderHandle base,
                           const std::u16string& part, std::uint32_t& error) {
  {
    ScanLock lock(scan.lock, std::defer_lock);
    takeScanLock(lock);
    reserveHandleFor(scan, lock);
    takeHandlesToClose(scan, lister);
  }
  error = openWithRoom(scan, lister, way, base, part, false);
  FolderHandle handle = error == 0 ? endReading(*lister.reader, true) : kNoFolderHandle;
  // A part opened but not kept (no descriptor to spare for it) cannot lead on: the next part would
  // be opened from the current folder instead.
  if (error == 0 && handle == kNoFolderHandle) error = replacedFolderErrorCode();
  if (handle == kNoFolderHandle) {
    ScanLock lock(scan.lock, std::defer_lock);
    takeScanLock(lock);
    releaseReservedHandle(scan);
  }
  return handle;
}

void closePartOfWay(Scan& scan, FolderHandle handle) {
  closeFolderHandle(scan.listing, handle);
  ScanLock lock(scan.lock, std::defer_lock);
  takeScanLock(lock);
  releaseReservedHandle(scan);
}

// Opens `folder` for reading by the parts of its way from `from`, held open one after the other;
// 0 or the system's code. Called without the lock.
std::uint32_t openByParts(Scan& scan, Lister& lister, const Way& way, const FolderNode& folder,
                          bool noFollow) {
  std::vector<std::u16string> parts =
      partsOfWay(folder, way.from, longestPathOpenedAtOnce(scan.listing));
  FolderHandle base = way.base;
  FolderHandle partHeld = kNoFolderHandle;
  std::uint32_t error = 0;
  for (std::size_t part = 0; part + 1 < parts.size() && error == 0; ++part) {
    FolderHandle next = openPartOfWay(scan, lister, way, base, parts[part], error);
    if (partHeld != kNoFolderHandle) closePartOfWay(scan, partHeld);
    base = partHeld = next;
  }
  if (error == 0) error = openWithRoom(scan, lister, way, base, parts.back(), noFollow);
  if (partHeld != kNoFolderHandle) closePartOfWay(scan, partHeld);
  return error;
}

// A folder replaced by a link since it was listed is not followed: a scan that follows no links
// would otherwise leave the tree.
bool mayNotBeALink(const FolderNode& folder) {
  return folder.parent && !folder.throughReparsePoint;
}

// Opens the parent of `folder` again by its way, to be kept again: it must prove to be the folder
// that was listed, or it was replaced meanwhile. Its handle, or kNoFolderHandle with `error`.
// Called without the lock.
FolderHandle openParentAgain(Scan& scan, Lister& lister, const Way& way, const FolderNode& folder,
                             std::uint32_t& error) {
  const FolderNode& parent = *folder.parent;
  error = openByParts(scan, lister, way, parent, mayNotBeALink(parent));
  if (error != 0) return kNoFolderHandle;
  FolderIdentity actual;
  if (parent.identityState == IdentityState::Known &&
      (!readOpenFolderIdentity(*lister.reader, actual) || !(actual == parent.identity))) {
    endReading(*lister.reader, false);
    error = replacedFolderErrorCode();
    return kNoFolderHandle;
  }
  FolderHandle handle = endReading(*lister.reader, true);
  if (handle == kNoFolderHandle) error = replacedFolderErrorCode();
  return handle;
}

// Opens `folder` for reading by its way; 0 or the system's code, and in `reopenedParent` the
// parent's handle where it was opened again. Called without the lock.
std::uint32_t openByWay(Scan& scan, Lister& lister, const FolderNode& folder, const Way& way,
                        FolderHandle& reopenedParent) {
  if (!way.keeps || !folder.parent) {
    return openByParts(scan, lister, way, folder, mayNotBeALink(folder));
  }
  FolderHandle base = way.base;
  if (way.reopensParent) {
    std::uint32_t error = 0;
    base = reopenedParent = openParentAgain(scan, lister, way, folder, error);
    if (error != 0) return error;
  }
  return openWithRoom(scan, lister, way, base, folder.name, mayNotBeALink(folder));
}

std::unique_ptr<FolderNode> subfolderOf(FolderNode& folder, const FindEntry& entry) {
  auto subfolder = std::make_unique<FolderNode>();
  subfolder->parent = &folder;
  subfolder->name = entry.name;
  subfolder->throughReparsePoint = (entry.attributes & kReparsePointAttribute) != 0;
  subfolder->identity = entry.identity;
  subfolder->identityState =
      entry.identityKnown ? IdentityState::Known : IdentityState::NotLookedUp;
  return subfolder;
}

// Reads the entries of the folder open in the lister: its own totals and the subfolders to
// descend into, in listing order. Called without the lock.
void readEntries(Scan& scan, Lister& lister, FolderNode& folder, const FolderIdentity* own) {
  const ScanRules& rules = scan.tree.rules;
  FindEntry& entry = lister.entry;
  while (readEntry(*lister.reader, entry)) {
    if (own && isMountPoint(entry, *own)) entry.attributes |= kReparsePointAttribute;
    countEntry(entry, rules, folder.totals);
    if (shouldDescend(entry, rules)) folder.subfolders.push_back(subfolderOf(folder, entry));
  }
}

// What a lister learns of a folder once it is open, before reading it.
struct Opened {
  FolderState outcome = FolderState::Listed;
  std::uint32_t errorCode = 0;
  FolderHandle reopenedParent = kNoFolderHandle;
  bool topIdentityKnown = false;
  FolderIdentity topIdentity;
};

// Opens, checks and reads the folder by its way: a reparse point that leads into a kernel file
// system is not entered. Returns the handle to keep for its subfolders, if any. Called without the
// lock.
FolderHandle readFolder(Scan& scan, Lister& lister, FolderNode& folder, const Way& way,
                        Opened& opened) {
  opened.errorCode = openByWay(scan, lister, folder, way, opened.reopenedParent);
  if (opened.errorCode != 0) {
    opened.outcome = FolderState::Failed;
    return kNoFolderHandle;
  }
  if (folder.throughReparsePoint && isInKernelFileSystem(*lister.reader)) {
    opened.outcome = FolderState::NotEntered;
    return endReading(*lister.reader, false);
  }
  const FolderIdentity* own = nullptr;
  if (!folder.parent) {
    opened.topIdentityKnown = readOpenFolderIdentity(*lister.reader, opened.topIdentity);
    if (opened.topIdentityKnown) own = &opened.topIdentity;
  } else if (folder.identityState == IdentityState::Known) {
    own = &folder.identity;
  }
  readEntries(scan, lister, folder, own);
  return endReading(*lister.reader, way.keeps && !folder.subfolders.empty());
}

// Records, under the lock, what the reading held: the folder's handle kept for its subfolders,
// the parent's handle opened again kept for its others, and the handles in use let go.
void recordHandles(Scan& scan, FolderNode& folder, const Way& way, const Opened& opened,
                   FolderHandle kept) {
  if (!way.keeps) return;
  if (kept != kNoFolderHandle) {
    keepHandle(scan.open, &folder, kept);
  } else {
    releaseReservedHandle(scan);
  }
  if (way.reopensParent) {
    if (opened.reopenedParent == kNoFolderHandle) {
      releaseReservedHandle(scan);
    } else if (isKept(scan.open, folder.parent)) {
      // Another lister kept it again meanwhile: one handle is enough.
      scan.open.toClose.push_back(opened.reopenedParent);
      releaseReservedHandle(scan);
    } else {
      keepHandle(scan.open, folder.parent, opened.reopenedParent);
    }
  }
  if (way.from && letGo(scan.open, way.from)) noteHandleReleased(scan);
}

}  // namespace

FolderState listFolder(Scan& scan, ScanLock& lock, Lister& lister, FolderNode& folder) {
  if (folder.throughReparsePoint && leadsBackUp(scan, lock, folder)) {
    folder.errorCode = loopErrorCode();
    return FolderState::Failed;
  }
  ++scan.readers;
  Way way = chooseWay(scan, folder);
  if (way.keeps) reserveHandleFor(scan, lock);
  if (way.reopensParent) reserveHandleFor(scan, lock);
  takeHandlesToClose(scan, lister);
  lock.unlock();

  Opened opened;
  FolderHandle kept = readFolder(scan, lister, folder, way, opened);

  takeScanLock(lock);
  recordHandles(scan, folder, way, opened, kept);
  --scan.readers;
  if (opened.topIdentityKnown) {
    folder.identity = opened.topIdentity;
    folder.identityState = IdentityState::Known;
  }
  folder.errorCode = opened.errorCode;
  return opened.outcome;
}
