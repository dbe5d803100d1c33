#include "scan/lister.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

void closeHandles(ListingContext& listing, std::vector<FolderHandle>& handles) {
  for (FolderHandle handle : handles) closeFolderHandle(listing, handle);
  handles.clear();
}

void fail(ListingResult& result, std::uint32_t errorCode) {
  result.outcome = FolderState::Failed;
  result.errorCode = errorCode;
  result.outOfHandles = isOutOfHandles(errorCode);
}

// Opens a part of the way that leads on, and keeps it open for the next part; kNoFolderHandle
// with the system's code in `error` where it cannot be. The parent opened again must prove to be
// the folder that was listed.
FolderHandle openPartThatLeadsOn(FolderReader& reader, const FolderWay& way, FolderHandle from,
                                 const std::u16string& part, bool isParent, std::uint32_t& error) {
  error = openFolder(reader, from, part, isParent && way.parentNoFollow);
  if (error != 0) return kNoFolderHandle;
  FolderIdentity actual;
  if (isParent && way.parentIdentityKnown &&
      (!readOpenFolderIdentity(reader, actual) || !(actual == way.parentIdentity))) {
    endReading(reader, false);
    error = replacedFolderErrorCode();
    return kNoFolderHandle;
  }
  FolderHandle handle = endReading(reader, true);
  // A part opened but not kept (no handle to spare for it) cannot lead on: the next part would be
  // opened from the current folder instead.
  if (handle == kNoFolderHandle) error = replacedFolderErrorCode();
  return handle;
}

// Opens the folder at the end of the way for reading; 0 or the system's code. The parent opened
// again, where the way does, is handed back in the result.
std::uint32_t openByWay(ListingContext& listing, FolderReader& reader, const FolderWay& way,
                        ListingResult& result) {
  FolderHandle from = way.base;
  FolderHandle partHeld = kNoFolderHandle;  // opened here, closed once the next part is open
  std::uint32_t error = 0;
  for (std::size_t part = 0; part + 1 < way.parts.size(); ++part) {
    bool isParent = way.reopensParent && part + 2 == way.parts.size();
    FolderHandle next = openPartThatLeadsOn(reader, way, from, way.parts[part], isParent, error);
    if (partHeld != kNoFolderHandle) closeFolderHandle(listing, partHeld);
    if (next == kNoFolderHandle) return error;
    from = partHeld = next;
  }
  error = openFolder(reader, from, way.parts.back(), way.noFollow);
  if (way.reopensParent) {
    result.reopenedParent = partHeld;
  } else if (partHeld != kNoFolderHandle) {
    closeFolderHandle(listing, partHeld);
  }
  return error;
}

// Reads the entries of the folder open in `reader`: its own totals and the subfolders to descend
// into, in listing order.
void readEntries(FolderReader& reader, const ScanRules& rules, const FolderIdentity* own,
                 ListerScratch& scratch, ListingResult& result) {
  FindEntry& entry = scratch.entry;
  while (readEntry(reader, entry)) {
    if (own && isMountPoint(entry, *own)) entry.attributes |= kReparsePointAttribute;
    countEntry(entry, rules, result.own);
    if (shouldDescend(entry, rules)) {
      result.subfolders.push_back({entry.name, (entry.attributes & kReparsePointAttribute) != 0,
                                   entry.identityKnown, entry.identity});
    }
  }
}

void listFolder(ListingContext& listing, FolderReader& reader, const ScanRules& rules,
                const ListingJob& job, ListerScratch& scratch, ListingResult& result) {
  std::uint32_t error = openByWay(listing, reader, job.way, result);
  if (error != 0) return fail(result, error);
  if (job.throughReparsePoint && isInKernelFileSystem(reader)) {
    result.outcome = FolderState::NotEntered;
    endReading(reader, false);
    return;
  }
  const FolderIdentity* own = job.identityKnown ? &job.identity : nullptr;
  if (job.isTop) {
    result.topIdentityKnown = readOpenFolderIdentity(reader, result.topIdentity);
    if (result.topIdentityKnown) own = &result.topIdentity;
  }
  readEntries(reader, rules, own, scratch, result);
  result.kept = endReading(reader, job.keepsOpen && !result.subfolders.empty());
}

void lookUpIdentities(ListingContext& listing, const ListingJob& job, ListingResult& result) {
  result.identityFound.assign(job.paths.size(), false);
  result.identities.assign(job.paths.size(), FolderIdentity());
  for (std::size_t i = 0; i < job.paths.size(); ++i) {
    result.identityFound[i] = lookUpFolderIdentity(listing, job.paths[i], result.identities[i]);
  }
}

}  // namespace

void runListingJob(ListingContext& listing, FolderReader& reader, const ScanRules& rules,
                   ListingJob& job, ListerScratch& scratch, ListingResult& result) {
  closeHandles(listing, job.toClose);
  result.kind = job.kind;
  result.folder = job.folder;
  result.holds = job.holds;
  if (job.kind == ListingJob::Kind::kLookUpIdentities)
    return lookUpIdentities(listing, job, result);
  SteadyClock::time_point start = SteadyClock::now();
  listFolder(listing, reader, rules, job, scratch, result);
  result.endedAt = SteadyClock::now();
  result.took = result.endedAt - start;
}
