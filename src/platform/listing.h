// Folder listings: one folder read at a time, each entry described as the system gives it. One
// implementation per platform (listing-posix.cc, listing-win32.cc).
//
// The platform reports facts (entries, identities, the kind of file system) and decides nothing:
// which folders a scan enters, loops, and which folders it keeps open belong to the scan. Nothing
// here locks or waits for another thread. A scan owns one ListingContext; each thread that reads
// folders owns one FolderReader made from it; the context outlives its readers.
//
// Where the platform can open a folder relative to another one held open (POSIX: openat on a
// descriptor), the scan may keep folders open as FolderHandles, within folderHandleBudget, and
// open their subfolders by name; elsewhere (Windows) the budget is 0 and every folder is opened
// by its whole path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"

constexpr std::uint32_t kFolderAttribute = 0x10;
constexpr std::uint32_t kReparsePointAttribute = 0x400;

// Which folder a path leads to, following links: the volume (device) and the file's index on it.
struct FolderIdentity {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
};

inline bool operator==(const FolderIdentity& a, const FolderIdentity& b) {
  return a.volume == b.volume && a.file == b.file;
}

// One record of a folder listing.
struct FindEntry {
  std::uint32_t attributes = 0;
  FileTime lastWrite = 0;
  std::uint64_t size = 0;
  // Filled for folders only (kFolderAttribute set): nothing reads the name of any other entry,
  // so the listing does not spend time converting it.
  std::u16string name;
  // The folder the entry leads to, where the listing learns it for free (POSIX).
  FolderIdentity identity;
  bool identityKnown = false;
};

// A folder held open by the scan for opening the folders below it; a descriptor on POSIX.
using FolderHandle = std::intptr_t;
constexpr FolderHandle kNoFolderHandle = -1;

struct ListingContext;
struct FolderReader;
using ListingContextPtr = std::unique_ptr<ListingContext, void (*)(ListingContext*)>;
using FolderReaderPtr = std::unique_ptr<FolderReader, void (*)(FolderReader*)>;

ListingContextPtr makeListingContext();
FolderReaderPtr makeFolderReader(ListingContext& context);

// Readies the context for a scan of the folder at `top` (in the form the platform lists), before
// any reader is made from it: the platform may find a faster way to read the folders below it
// (Windows: the master file table of a local NTFS volume).
void prepareListing(ListingContext& context, const std::u16string& top);

// How many FolderHandles a scan may hold at once, those of folders being read included; 0 where
// folders are always opened by their whole path.
std::size_t folderHandleBudget(const ListingContext& context);

// The longest path, in code units, that one opening takes; a longer one is opened a part at a
// time, each part from the folder the one before reached.
std::size_t longestPathOpenedAtOnce(const ListingContext& context);

// Opens a folder for reading with `reader`: `path` relative to the folder held open as `base`, or
// with kNoFolderHandle, `path` in the form the platform lists. With `noFollow`, a link found in
// place of the folder itself is not followed. Returns 0, or the system's error code; a folder that
// lists nothing at all (removed while it was being opened) fails too.
std::uint32_t openFolder(FolderReader& reader, FolderHandle base, const std::u16string& path,
                         bool noFollow);

// The identity of the folder open in `reader`; false where it cannot be read from the open folder.
bool readOpenFolderIdentity(FolderReader& reader, FolderIdentity& identity);

// True when the folder open in `reader` lies in a kernel file system that holds no stored data
// and whose links branch out without end (on Linux proc, sysfs and the like).
bool isInKernelFileSystem(FolderReader& reader);

// Yields the next entry of the folder open in `reader`, in the order the file system gives,
// "." and ".." included where it gives them; false at the end or when it cannot be read further.
bool readEntry(FolderReader& reader, FindEntry& entry);

// Ends the reading. With `keep`, the folder stays open and its handle is returned, for the caller
// to close with closeFolderHandle; otherwise it is closed and kNoFolderHandle returned.
FolderHandle endReading(FolderReader& reader, bool keep);

void closeFolderHandle(ListingContext& context, FolderHandle handle);

// The identity of the folder at `path` (in the form the platform lists), following links; false
// when it cannot be learned.
bool lookUpFolderIdentity(ListingContext& context, const std::u16string& path,
                          FolderIdentity& identity);

// The system's codes the scan gives for its own reasons: a folder that would lead back to one on
// its way from the top, and a folder that is no longer the one that was listed.
std::uint32_t loopErrorCode();
std::uint32_t replacedFolderErrorCode();

// True for the code of an opening that failed for want of handles, in the process or the system.
bool isOutOfHandles(std::uint32_t errorCode);
