// Win32 listings: FindFirstFileExW and FindNextFileW on the folder's extended-length path, which
// several threads may do at once. A folder's path is its ancestors' names joined: nothing is kept
// open between folders. Identities (volume serial and file index) are looked up only when a
// reparse point is about to be followed, to rule out a loop, and are then kept in the folder's
// reference, under the scan's lock.
#include <vector>

#include "paths/paths.h"
#include "platform/common-win32.h"
#include "platform/listing.h"

// Nothing is held between folders; the identities readers look up are kept in the FolderRefs.
struct ListingContext {};

struct FolderReader {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW first;
  bool havePending = false;
};

namespace {

// The folder's extended-length path: the top's path joined with the names down to it.
std::u16string pathOf(const FolderRef& folder) {
  std::vector<const FolderRef*> way;
  for (const FolderRef* step = &folder; step; step = step->parent) way.push_back(step);
  std::u16string path = way.back()->name;
  for (auto step = way.rbegin() + 1; step != way.rend(); ++step) {
    appendPathName(path, (*step)->name);
  }
  return path;
}

void describeEntry(const WIN32_FIND_DATAW& data, FindEntry& entry) {
  entry.attributes = data.dwFileAttributes;
  entry.lastWrite = toFileTime(data.ftLastWriteTime);
  entry.size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  if (entry.attributes & kFolderAttribute) {
    entry.name.assign(reinterpret_cast<const char16_t*>(data.cFileName));
  } else {
    entry.name.clear();
  }
}

// Looks up the identity of the folder at `path`, following reparse points.
IdentityState lookUpIdentity(const std::u16string& path, FolderIdentity& identity) {
  // Backup semantics let a folder be opened as a file; no access right is needed to read its index.
  HANDLE file = CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return IdentityState::Unavailable;
  BY_HANDLE_FILE_INFORMATION information;
  bool found = GetFileInformationByHandle(file, &information) != 0;
  CloseHandle(file);
  if (!found) return IdentityState::Unavailable;
  identity.volume = information.dwVolumeSerialNumber;
  identity.file =
      static_cast<std::uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
  return IdentityState::Known;
}

bool knowIdentity(const FolderRef& folder) {
  if (folder.identityState == IdentityState::NotLookedUp) {
    folder.identityState = lookUpIdentity(pathOf(folder), folder.identity);
  }
  return folder.identityState == IdentityState::Known;
}

// True when the reparse point `folder` leads to a folder on the way from the top to it. The
// identities looked up are kept, under the scan's lock: following a reparse point is rare.
bool leadsBackUp(const FolderRef& folder) {
  if (!knowIdentity(folder)) return false;
  for (const FolderRef* above = folder.parent; above; above = above->parent) {
    if (knowIdentity(*above) && above->identity == folder.identity) return true;
  }
  return false;
}

}  // namespace

const PathStyle& nativePathStyle() {
  return kWindowsPathStyle;
}

ListingContextPtr makeListingContext() {
  return ListingContextPtr(new ListingContext, [](ListingContext* done) { delete done; });
}

std::size_t mostConcurrentReaders(const ListingContext&) {
  // Nothing is held open between folders.
  return static_cast<std::size_t>(-1);
}

FolderReaderPtr makeFolderReader() {
  return FolderReaderPtr(new FolderReader, [](FolderReader* done) { delete done; });
}

FolderOpening openFolder(ListingContext&, std::unique_lock<std::mutex>& lock, FolderReader& reader,
                         const FolderRef& folder, std::uint32_t& errorCode) {
  if (folder.throughReparsePoint && leadsBackUp(folder)) {
    errorCode = ERROR_CANT_RESOLVE_FILENAME;
    return FolderOpening::Failed;
  }
  std::u16string pattern = joinPath(pathOf(folder).c_str(), u"*");
  lock.unlock();
  reader.find = FindFirstFileExW(wide(pattern), FindExInfoBasic, &reader.first,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (reader.find == INVALID_HANDLE_VALUE) {
    errorCode = GetLastError();
    takeScanLock(lock);
    return FolderOpening::Failed;
  }
  reader.havePending = true;
  return FolderOpening::Opened;
}

bool readEntry(FolderReader& reader, FindEntry& entry) {
  if (reader.havePending) {
    reader.havePending = false;
    describeEntry(reader.first, entry);
    return true;
  }
  WIN32_FIND_DATAW data;
  if (!FindNextFileW(reader.find, &data)) return false;
  describeEntry(data, entry);
  return true;
}

void closeFolder(ListingContext&, std::unique_lock<std::mutex>& lock, FolderReader& reader,
                 const FolderRef&, bool) {
  FindClose(reader.find);
  reader.find = INVALID_HANDLE_VALUE;
  takeScanLock(lock);
}

void doneWithSubfolders(ListingContext&, const FolderRef&) {}
