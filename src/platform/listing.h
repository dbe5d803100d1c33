// Folder listings: one folder read at a time, each entry described as the scan needs it. One
// implementation per platform (listing-posix.cc, listing-win32.cc).
//
// A scan owns one ListingContext, which every thread that reads folders shares, and each such
// thread owns one FolderReader. On POSIX the context keeps, within a budget of descriptors, the
// folders held open for opening their subfolders relative to them, and opens a folder again from
// its nearest open ancestor when its descriptor had to be given up.
//
// The scan's one lock guards the context too: openFolder and closeFolder are handed it, hold it
// while they touch the context and let it go around system calls that may take long; readEntry
// runs without it. So a folder costs the scan's threads one taking of the lock, not several.
//
// Invariants the caller keeps: a FolderRef stays where it is, with its parent, name and identity
// unchanged, while it or any folder below it is being read, and until doneWithSubfolders for it
// when it was kept for its subfolders; a folder is read by one reader at a time; the context
// outlives every reader.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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

enum class IdentityState : std::uint8_t { NotLookedUp, Known, Unavailable };

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
  IdentityState identityState = IdentityState::NotLookedUp;
};

// A folder as the scan names it to the listing.
struct FolderRef {
  const FolderRef* parent = nullptr;  // null for the top of the tree
  // The folder's name in its parent; for the top of the tree, its whole path in the form the
  // platform lists (see paths.h).
  std::u16string name;
  bool throughReparsePoint = false;  // reached through a link, junction or mount point
  // Which folder this is: taken from the parent's listing where it gives it, read when the top of
  // the tree is opened, and otherwise looked up by the listing, under its context's lock, only
  // when a loop through a reparse point must be ruled out.
  mutable FolderIdentity identity;
  mutable IdentityState identityState = IdentityState::NotLookedUp;
  // The listing's own record of the folder while it keeps something for it (on POSIX, the
  // descriptor its subfolders are opened from), under the scan's lock; -1 while it keeps nothing.
  mutable std::int32_t keptAt = -1;
};

// Takes the scan's lock. A thread that finds it taken tries again for a while, giving way to
// others, before it sleeps: every lister holds the lock for a moment once or twice a folder, and
// sleeping and being woken cost far more than that (measured on 2 cores: without the retries a
// warm /usr scanned 5% slower, and a tree of small folders 20% slower).
inline void takeScanLock(std::unique_lock<std::mutex>& lock) {
  for (int tries = 0; tries < 100; ++tries) {
    if (lock.try_lock()) return;
    std::this_thread::yield();
  }
  lock.lock();
}

struct ListingContext;
struct FolderReader;
using ListingContextPtr = std::unique_ptr<ListingContext, void (*)(ListingContext*)>;
using FolderReaderPtr = std::unique_ptr<FolderReader, void (*)(FolderReader*)>;

ListingContextPtr makeListingContext();
FolderReaderPtr makeFolderReader();

// How many readers can work at once within the context's budget of open folders.
std::size_t mostConcurrentReaders(const ListingContext& context);

enum class FolderOpening { Opened, Failed, NotEntered };

// Opens `folder` for reading with `reader`; the scan's lock is held on entry. Opened: the lock is
// let go, for the folder to be read without it, until closeFolder. Failed, with the system's code
// in `errorCode`, when the folder cannot be listed (a reparse point that leads back to a folder on
// the way from the top fails with the platform's loop code); NotEntered for a folder that is not
// to be descended although the scan asked for it (on POSIX a kernel file system, such as proc or
// sysfs, whose links branch out without end, reached through a link or a mount point). Both with
// the lock held on return.
FolderOpening openFolder(ListingContext& context, std::unique_lock<std::mutex>& lock,
                         FolderReader& reader, const FolderRef& folder, std::uint32_t& errorCode);

// Yields the next entry of the folder open in `reader`, in the order the file system gives,
// "." and ".." included where it gives them; false at the end or when it cannot be read further.
// The folder yields at least one entry, or openFolder fails. Called without the lock.
bool readEntry(FolderReader& reader, FindEntry& entry);

// Ends the reading, taking the lock again. With `keepForSubfolders` the folder stays at hand for
// opening its subfolders, until doneWithSubfolders.
void closeFolder(ListingContext& context, std::unique_lock<std::mutex>& lock, FolderReader& reader,
                 const FolderRef& folder, bool keepForSubfolders);

// Every subfolder of `folder` has been read: what was kept for them goes. With the lock held.
void doneWithSubfolders(ListingContext& context, const FolderRef& folder);
