// What a lister does: the system's calls for one job the scan's coordinator hands it, and what
// they found. A lister decides nothing and reads no folder of the tree: the job says where to
// open, what to check and what to keep; the result says what the system answered. The rules that
// turn entries into totals and subfolders (totals.h) are applied as the entries are read, so that
// no entry outlives its reading.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/listing.h"
#include "scan/folder_tree.h"
#include "scan/totals.h"

// The way to a folder: parts opened one after the other, the first from `base` (or, without one,
// as a path in the form the platform lists), each next one from the folder the one before
// reached. The last part is the folder itself.
struct FolderWay {
  FolderHandle base = kNoFolderHandle;
  std::vector<std::u16string> parts;
  bool noFollow = false;  // a link found in place of the folder itself is not followed
  // The part before the last reaches the folder's parent, opened again because its handle was
  // given up: it is not followed where a link stands in its place (`parentNoFollow`), it must
  // prove to be the folder that was listed (when its identity is known), and its handle comes
  // back with the result, to be kept.
  bool reopensParent = false;
  bool parentNoFollow = false;
  bool parentIdentityKnown = false;
  FolderIdentity parentIdentity;
};

// What the coordinator holds for a job until its result comes back: carried with the job and back
// with the result, never read by a lister.
struct JobHolds {
  FolderNode* parent = nullptr;      // the folder's parent, whose handle the job may open again
  const FolderNode* from = nullptr;  // the kept folder its way starts from, in use meanwhile
  std::size_t handlesReserved = 0;
};

struct ListingJob {
  enum class Kind : std::uint8_t { kList, kLookUpIdentities };
  Kind kind = Kind::kList;
  // The folder the job is for, carried back with the result; a lister never reads it.
  FolderNode* folder = nullptr;
  JobHolds holds;
  bool urgent = false;  // the report waits for it: it goes before the others
  // Handles the coordinator gave up, closed before anything else.
  std::vector<FolderHandle> toClose;

  // kList:
  FolderWay way;
  bool isTop = false;                // its identity is read from the open folder
  bool throughReparsePoint = false;  // not entered where it lies in a kernel file system
  bool identityKnown = false;        // its own identity, to tell mount points among its entries
  FolderIdentity identity;
  bool keepsOpen = false;  // kept open for its subfolders, where it has any

  // kLookUpIdentities: the folders whose identities are looked up, by their whole paths.
  std::vector<std::u16string> paths;
};

// A subfolder found in a listing, to descend into.
struct FoundSubfolder {
  std::u16string name;
  bool throughReparsePoint = false;
  bool identityKnown = false;
  FolderIdentity identity;
};

struct ListingResult {
  ListingJob::Kind kind = ListingJob::Kind::kList;
  FolderNode* folder = nullptr;
  JobHolds holds;

  // kList:
  FolderState outcome = FolderState::Listed;  // Listed, Failed or NotEntered
  std::uint32_t errorCode = 0;                // Failed: the system's code
  bool outOfHandles = false;                  // Failed for want of handles: worth trying again
  FolderTotals own;                           // of its own entries
  std::vector<FoundSubfolder> subfolders;     // in listing order
  bool topIdentityKnown = false;
  FolderIdentity topIdentity;
  FolderHandle kept = kNoFolderHandle;            // the folder, kept open
  FolderHandle reopenedParent = kNoFolderHandle;  // its parent, opened again
  std::chrono::nanoseconds took{0};               // from the first opening to the end of reading
  std::chrono::steady_clock::time_point endedAt;  // the end of reading, or of the lookups

  // kLookUpIdentities: for each path, whether its identity was found, and which.
  std::vector<bool> identityFound;
  std::vector<FolderIdentity> identities;
};

// The scratch a lister keeps from job to job, so that reading a folder allocates little.
struct ListerScratch {
  FindEntry entry;
};

// Does the job's system calls with `reader`, under the scan's rules.
void runListingJob(ListingContext& listing, FolderReader& reader, const ScanRules& rules,
                   ListingJob& job, ListerScratch& scratch, ListingResult& result);
