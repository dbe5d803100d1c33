#include "scan/open_folders.h"

namespace {

// Lets a kept handle go, to be closed; `wasIdle` when nobody had it in use.
void drop(OpenFolders& open, std::unordered_map<const FolderNode*, OpenFolders::Kept>::iterator at,
          bool wasIdle) {
  open.toClose.push_back(at->second.handle);
  if (wasIdle) open.idle.erase(at->second.inIdle);
  open.kept.erase(at);
  --open.held;
}

bool giveUpIdleHandle(OpenFolders& open) {
  if (open.idle.empty()) return false;
  drop(open, open.kept.find(open.idle.front()), true);
  return true;
}

}  // namespace

bool keepsFolders(const OpenFolders& open) {
  return open.budget > 0;
}

std::size_t mostListingsAtOnce(const OpenFolders& open) {
  if (!keepsFolders(open)) return static_cast<std::size_t>(-1);
  return open.budget >= 8 ? open.budget / 4 : 1;
}

bool isKept(const OpenFolders& open, const FolderNode* folder) {
  return open.kept.count(folder) != 0;
}

FolderHandle useKept(OpenFolders& open, const FolderNode* folder) {
  auto at = open.kept.find(folder);
  if (at == open.kept.end()) return kNoFolderHandle;
  if (at->second.users++ == 0) open.idle.erase(at->second.inIdle);
  return at->second.handle;
}

bool letGo(OpenFolders& open, const FolderNode* folder) {
  auto at = open.kept.find(folder);
  if (--at->second.users > 0) return false;
  if (at->second.subfoldersDone) {
    drop(open, at, false);
    return true;
  }
  at->second.inIdle = open.idle.insert(open.idle.end(), folder);
  return false;
}

bool reserveHandle(OpenFolders& open) {
  if (open.held >= open.budget && !giveUpIdleHandle(open)) return false;
  ++open.held;
  return true;
}

void releaseHandle(OpenFolders& open) {
  --open.held;
}

bool makeRoomAfterShortage(OpenFolders& open) {
  if (open.held > 1 && open.held - 1 < open.budget) open.budget = open.held - 1;
  return giveUpIdleHandle(open);
}

void keepHandle(OpenFolders& open, const FolderNode* folder, FolderHandle handle) {
  OpenFolders::Kept& kept = open.kept[folder];
  kept.handle = handle;
  kept.inIdle = open.idle.insert(open.idle.end(), folder);
}

bool doneWithSubfolders(OpenFolders& open, const FolderNode* folder) {
  auto at = open.kept.find(folder);
  if (at == open.kept.end()) return false;
  at->second.subfoldersDone = true;
  if (at->second.users > 0) return false;
  drop(open, at, true);
  return true;
}
