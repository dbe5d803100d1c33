// Win32 listings: FindFirstFileExW and FindNextFileW on the folder's extended-length path, which
// several threads may do at once. Nothing is kept open between folders, so every folder is opened
// by its whole path; identities (volume serial and file index) are looked up by path, and only
// when the scan asks.
//
// Where the scan's folder lies on a local NTFS volume that the process may read directly (an
// administrator), the volume's master file table is read once, before the scan, and the folders on
// that volume are read from it: the same entries in the same order, without a listing per folder.
// Whatever the table cannot answer for certain, and every volume where it could not be read with
// trust, is listed by the system as before.
#include <memory>

#include "ntfs/table_listing.h"
#include "paths/paths.h"
#include "platform/common-win32.h"
#include "platform/listing.h"
#include "platform/volume.h"

// The table of the scan's volume, read before the scan and only read from during it; null where
// every folder is listed by the system.
struct ListingContext {
  std::unique_ptr<FileTable> table;
  char16_t driveLetter = 0;
};

struct FolderReader {
  ListingContext* context = nullptr;
  bool fromTable = false;
  TableFolderReading reading;
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

// A drive the process sees as a local disk formatted NTFS.
// A drive of this machine's own, not a network share or a CD: whether it holds NTFS, its boot
// sector tells once it is open. (Asking the system for the file system by the drive's root makes
// wine say on standard error that it cannot read the device of a drive mapped to a folder.)
bool isLocalDrive(char16_t letter) {
  const wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', 0};
  UINT type = GetDriveTypeW(root);
  return type == DRIVE_FIXED || type == DRIVE_REMOVABLE;
}

// The identity the system gives for the folder at `path`: on NTFS, the file index holds the
// record number and sequence number.
bool systemFolderIdentity(const std::u16string& path, FolderIdentity& identity) {
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

// Finds the folder at `path` in the context's table: Found, or why the table cannot answer.
TableLookup findInTable(const ListingContext& context, const std::u16string& path, bool noFollow,
                        std::uint32_t& folder) {
  std::u16string_view below;
  if (!context.table || !pathBelowDrive(path, context.driveLetter, below)) {
    return TableLookup::Missing;
  }
  return findTableFolder(*context.table, context.driveLetter, below, noFollow, folder);
}

// Whether the lookup found the folder in the table, whoever lists it.
bool isFound(TableLookup lookup) {
  return lookup == TableLookup::Found || lookup == TableLookup::FoundForTheSystem;
}

}  // namespace

void prepareListing(ListingContext& context, const std::u16string& top) {
  char16_t letter = 0;
  std::u16string_view below;
  if (!splitDrivePath(top, letter, below) || !isLocalDrive(letter)) return;
  std::uint32_t error = 0;
  VolumeFilePtr volume = openVolumeFile(std::u16string(u"\\\\.\\") + letter + u':', error);
  if (!volume) return;
  auto table = std::make_unique<FileTable>();
  std::string doubt;
  if (!loadFileTable(*volume, *table, doubt)) return;
  // The table must be that of the volume the path leads to: the top folder found in it is the
  // one the system opens (a drive made with subst, for one, is not the volume's root).
  context.table = std::move(table);
  context.driveLetter = letter;
  std::uint32_t folder = 0;
  FolderIdentity system;
  // \\?\X: alone names the volume's device; its root folder is \\?\X:\.
  std::u16string topFolder = below.empty() ? joinPath(top.c_str(), u"\\") : top;
  if (!isFound(findInTable(context, top, false, folder)) ||
      !systemFolderIdentity(topFolder, system) || referencedRecord(system.file) != folder) {
    context.table.reset();
  }
}

const PathStyle& nativePathStyle() {
  return kWindowsPathStyle;
}

ListingContextPtr makeListingContext() {
  return ListingContextPtr(new ListingContext, [](ListingContext* done) { delete done; });
}

FolderReaderPtr makeFolderReader(ListingContext& context) {
  auto reader = new FolderReader;
  reader->context = &context;
  return FolderReaderPtr(reader, [](FolderReader* done) {
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

std::uint32_t openFolder(FolderReader& reader, FolderHandle, const std::u16string& path,
                         bool noFollow) {
  std::uint32_t folder = 0;
  TableLookup lookup = findInTable(*reader.context, path, noFollow, folder);
  reader.fromTable = lookup == TableLookup::Found;
  if (reader.fromTable) {
    startTableReading(reader.reading, *reader.context->table, folder);
    return 0;
  }
  if (lookup == TableLookup::LinkInPlace) return replacedFolderErrorCode();
  std::u16string pattern = joinPath(path.c_str(), u"*");
  reader.find = FindFirstFileExW(wide(pattern), FindExInfoBasic, &reader.first,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (reader.find == INVALID_HANDLE_VALUE) return GetLastError();
  reader.havePending = true;
  return 0;
}

bool readOpenFolderIdentity(FolderReader& reader, FolderIdentity& identity) {
  // A find handle does not tell which folder it lists.
  if (!reader.fromTable) return false;
  identity = tableFolderIdentity(*reader.context->table, reader.reading.folder);
  return true;
}

bool isInKernelFileSystem(FolderReader&) {
  return false;
}

bool readEntry(FolderReader& reader, FindEntry& entry) {
  if (reader.fromTable) return readTableEntry(reader.reading, entry);
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
  reader.fromTable = false;
  closeFind(reader);
  return kNoFolderHandle;
}

void closeFolderHandle(ListingContext&, FolderHandle) {}

bool lookUpFolderIdentity(ListingContext& context, const std::u16string& path,
                          FolderIdentity& identity) {
  std::uint32_t folder = 0;
  if (isFound(findInTable(context, path, false, folder))) {
    identity = tableFolderIdentity(*context.table, folder);
    return true;
  }
  return systemFolderIdentity(path, identity);
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
