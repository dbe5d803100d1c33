// Win32 listings: FindFirstFileExW and FindNextFileW on the folder's extended-length path, which
// several threads may do at once. Nothing is kept open between folders, so every folder is opened
// by its whole path; identities (volume serial and file index) are looked up by path, and only
// when the scan asks.
#include "paths/paths.h"
#include "platform/common-win32.h"
#include "platform/listing.h"

// Nothing is shared between the readers of a scan.
struct ListingContext {};

struct FolderReader {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW first;
  bool havePending = false;
};

namespace {

void describeEntry(const WIN32_FIND_DATAW& data, FindEntry& entry) {
  entry.attributes = data.dwFileAttributes;
  entry.lastWrite = toFileTime(data.ftLastWriteTime);
  entry.size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  entry.identityKnown = false;
  if (entry.attributes & kFolderAttribute) {
    entry.name.assign(reinterpret_cast<const char16_t*>(data.cFileName));
  } else {
    entry.name.clear();
  }
}

void closeFind(FolderReader& reader) {
  if (reader.find != INVALID_HANDLE_VALUE) FindClose(reader.find);
  reader.find = INVALID_HANDLE_VALUE;
  reader.havePending = false;
}

}  // namespace

const PathStyle& nativePathStyle() {
  return kWindowsPathStyle;
}

ListingContextPtr makeListingContext() {
  return ListingContextPtr(new ListingContext, [](ListingContext* done) { delete done; });
}

FolderReaderPtr makeFolderReader(ListingContext&) {
  return FolderReaderPtr(new FolderReader, [](FolderReader* done) {
    closeFind(*done);
    delete done;
  });
}

std::size_t folderHandleBudget(const ListingContext&) {
  return 0;
}

std::size_t longestPathOpenedAtOnce(const ListingContext&) {
  // An extended-length path is opened whole, up to the system's own limit.
  return static_cast<std::size_t>(-1);
}

std::uint32_t openFolder(FolderReader& reader, FolderHandle, const std::u16string& path, bool) {
  std::u16string pattern = joinPath(path.c_str(), u"*");
  reader.find = FindFirstFileExW(wide(pattern), FindExInfoBasic, &reader.first,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (reader.find == INVALID_HANDLE_VALUE) return GetLastError();
  reader.havePending = true;
  return 0;
}

bool readOpenFolderIdentity(FolderReader&, FolderIdentity&) {
  // A find handle does not tell which folder it lists.
  return false;
}

bool isInKernelFileSystem(FolderReader&) {
  return false;
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

FolderHandle endReading(FolderReader& reader, bool) {
  closeFind(reader);
  return kNoFolderHandle;
}

void closeFolderHandle(ListingContext&, FolderHandle) {}

bool lookUpFolderIdentity(ListingContext&, const std::u16string& path, FolderIdentity& identity) {
  // Backup semantics let a folder be opened as a file; no access right is needed to read its index.
  HANDLE file = CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  bool found = GetFileInformationByHandle(file, &information) != 0;
  CloseHandle(file);
  if (!found) return false;
  identity.volume = information.dwVolumeSerialNumber;
  identity.file =
      static_cast<std::uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
  return true;
}

std::uint32_t loopErrorCode() {
  return ERROR_CANT_RESOLVE_FILENAME;
}

std::uint32_t replacedFolderErrorCode() {
  return ERROR_PATH_NOT_FOUND;
}

bool isOutOfHandles(std::uint32_t errorCode) {
  return errorCode == ERROR_TOO_MANY_OPEN_FILES;
}
