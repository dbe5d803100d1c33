// POSIX listings through open descriptors: a folder is opened relative to a folder the scan holds
// open (openat), never by re-resolving its full path, so no path limit applies and no level is
// resolved twice. Each entry is described relative to the open folder.
#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "paths/paths.h"
#include "platform/common-posix.h"
#include "platform/listing.h"

// On Linux a folder is read with getdents64, many entries a call, and each entry is described
// with statx, asking only for the fields the scan uses; kernel file systems are recognised by
// statfs. Elsewhere, or built with TREEMETER_PORTABLE_LISTING, readdir and fstatat do it.
#if defined(__linux__) && !defined(TREEMETER_PORTABLE_LISTING)
#include <sys/syscall.h>
#if defined(SYS_getdents64) && defined(STATX_TYPE)
#define TREEMETER_BATCHED_LISTING 1
#endif
#endif
#if defined(__linux__)
#include <sys/vfs.h>
#endif

namespace {

// At most this many descriptors are held at once, whatever the depth and width of the tree.
constexpr std::size_t kMostHeldDescriptors = 512;
// Left to the rest of the process: the standard streams and whatever the C library opens.
constexpr std::size_t kDescriptorsLeftToOthers = 8;
// Paths opened in one step stay well within PATH_MAX.
constexpr std::size_t kLongestPathOpenedAtOnce = 2048;

void narrowInto(std::string& bytes, const std::u16string& text) {
  bytes.resize(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[i] = text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
  }
}

bool isDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// What the listing needs to know of one entry, as the file system gives it.
struct EntryStatus {
  bool isDirectory = false;
  bool isLink = false;
  std::uint64_t size = 0;
  FileTime lastWrite = 0;
  FolderIdentity identity;
};

// One record of a folder as the system lists it: the name stays valid until the next read.
struct RawEntry {
  const char* name = nullptr;
  unsigned char type = DT_UNKNOWN;
};

// An open folder: its descriptor, and the directory stream that reads it where one is used.
struct OpenFolder {
  int descriptor = -1;
  DIR* stream = nullptr;
};

void closeOpenFolder(OpenFolder& folder) {
  if (folder.stream) {
    closedir(folder.stream);
  } else if (folder.descriptor >= 0) {
    close(folder.descriptor);
  }
  folder = OpenFolder();
}

#ifdef TREEMETER_BATCHED_LISTING

// The status of `name` in the folder open as `folder`, or of the link's target when `followLink`
// is set (then only its type and identity are wanted). A mount point is never triggered.
bool readEntryStatus(int folder, const char* name, bool followLink, EntryStatus& status) {
  struct statx record;
  unsigned int fields =
      followLink ? STATX_TYPE | STATX_INO : STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME;
  int flags = AT_NO_AUTOMOUNT | (followLink ? 0 : AT_SYMLINK_NOFOLLOW);
  if (statx(folder, name, flags, fields, &record) != 0) return false;
  status.isDirectory = S_ISDIR(record.stx_mode);
  status.isLink = S_ISLNK(record.stx_mode);
  status.size = record.stx_size;
  status.lastWrite = toFileTime(record.stx_mtime.tv_sec, record.stx_mtime.tv_nsec);
  status.identity = {makedev(record.stx_dev_major, record.stx_dev_minor), record.stx_ino};
  return true;
}

bool readDescriptorIdentity(int descriptor, FolderIdentity& identity) {
  struct statx record;
  if (statx(descriptor, "", AT_EMPTY_PATH, STATX_INO, &record) != 0) return false;
  identity = {makedev(record.stx_dev_major, record.stx_dev_minor), record.stx_ino};
  return true;
}

// The layout of a getdents64 record: 64-bit inode and offset, 16-bit length, type, name.
constexpr std::size_t kRecordLengthAt = 16;
constexpr std::size_t kRecordTypeAt = 18;
constexpr std::size_t kRecordNameAt = 19;
constexpr std::size_t kBatchBytes = 16384;

// Reads a folder many records at a time into a buffer of its own.
struct DirectoryReader {
  alignas(8) char batch[kBatchBytes];
  std::size_t batchBytes = 0;
  std::size_t nextRecord = 0;
};

bool startReading(DirectoryReader& reader, OpenFolder& folder) {
  reader.batchBytes = reader.nextRecord = 0;
  return folder.descriptor >= 0;
}

// False at the end of the folder, or with errno set when it cannot be read further.
bool readRawEntry(DirectoryReader& reader, OpenFolder& folder, RawEntry& raw) {
  if (reader.nextRecord == reader.batchBytes) {
    errno = 0;
    long count = syscall(SYS_getdents64, folder.descriptor, reader.batch, kBatchBytes);
    if (count <= 0) return false;
    reader.batchBytes = static_cast<std::size_t>(count);
    reader.nextRecord = 0;
  }
  const char* record = reader.batch + reader.nextRecord;
  unsigned short length;
  memcpy(&length, record + kRecordLengthAt, sizeof length);
  reader.nextRecord += length;
  raw.name = record + kRecordNameAt;
  raw.type = static_cast<unsigned char>(record[kRecordTypeAt]);
  return true;
}

// The folder's descriptor, to be kept open once reading ends.
int descriptorToKeep(OpenFolder& folder) {
  int descriptor = folder.descriptor;
  folder = OpenFolder();
  return descriptor;
}

#else

bool readEntryStatus(int folder, const char* name, bool followLink, EntryStatus& status) {
  struct stat record;
  if (fstatat(folder, name, &record, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return false;
  status.isDirectory = S_ISDIR(record.st_mode);
  status.isLink = S_ISLNK(record.st_mode);
  status.size = static_cast<std::uint64_t>(record.st_size);
  status.lastWrite = toFileTime(record.st_mtim.tv_sec, record.st_mtim.tv_nsec);
  status.identity = {record.st_dev, record.st_ino};
  return true;
}

bool readDescriptorIdentity(int descriptor, FolderIdentity& identity) {
  struct stat record;
  if (fstat(descriptor, &record) != 0) return false;
  identity = {record.st_dev, record.st_ino};
  return true;
}

// Reads a folder through a directory stream, which keeps its own buffer.
struct DirectoryReader {};

bool startReading(DirectoryReader&, OpenFolder& folder) {
  folder.stream = fdopendir(folder.descriptor);
  if (!folder.stream) closeOpenFolder(folder);
  return folder.stream != nullptr;
}

bool readRawEntry(DirectoryReader&, OpenFolder& folder, RawEntry& raw) {
  errno = 0;
  struct dirent* record = readdir(folder.stream);
  if (!record) return false;
  raw.name = record->d_name;
  raw.type = record->d_type;
  return true;
}

// The stream owns the descriptor it reads: a copy outlives it. Without a copy (no descriptor to
// spare) the folder is not kept, and the scan opens it again when it needs it.
int descriptorToKeep(OpenFolder& folder) {
  int descriptor = fcntl(folder.descriptor, F_DUPFD_CLOEXEC, 0);
  closeOpenFolder(folder);
  return descriptor;
}

#endif

// Fills `entry` for the entry `raw` of the folder open as `folder`. A link is a reparse point,
// and counts as a folder when its target is one. Only a folder's name is converted: nothing reads
// the name of any other entry.
void describeEntry(int folder, const RawEntry& raw, FindEntry& entry) {
  entry.attributes = 0;
  entry.size = 0;
  entry.lastWrite = 0;
  entry.identityKnown = false;
  EntryStatus status;
  if (isDotEntry(raw.name)) {
    entry.attributes = kFolderAttribute;
  } else if (!readEntryStatus(folder, raw.name, false, status)) {
    // Gone since the listing was read: still an entry; a folder gives its error when reached.
    if (raw.type == DT_DIR) entry.attributes = kFolderAttribute;
  } else if (status.isLink) {
    entry.attributes = kReparsePointAttribute;
    entry.size = status.size;
    entry.lastWrite = status.lastWrite;
    EntryStatus target;
    if (readEntryStatus(folder, raw.name, true, target) && target.isDirectory) {
      entry.attributes |= kFolderAttribute;
      entry.identity = target.identity;
      entry.identityKnown = true;
    }
  } else {
    entry.lastWrite = status.lastWrite;
    if (status.isDirectory) {
      entry.attributes = kFolderAttribute;
      entry.identity = status.identity;
      entry.identityKnown = true;
    } else {
      entry.size = status.size;
    }
  }
  if (entry.attributes & kFolderAttribute) {
    // Filled in place: the entry is reused from one call to the next, and so is its capacity.
    const char* byte = raw.name;
    entry.name.resize(strlen(byte));
    for (char16_t& unit : entry.name) unit = static_cast<unsigned char>(*byte++);
  } else {
    entry.name.clear();
  }
}

}  // namespace

// The limits of the process's descriptors, read once for the scan.
struct ListingContext {
  std::size_t budget = 0;
};

struct FolderReader {
  OpenFolder folder;
  bool havePending = false;
  RawEntry pending;        // the first entry, read when the folder was opened
  std::string nativeName;  // scratch for paths on their way to the system
  DirectoryReader directory;
};

const PathStyle& nativePathStyle() {
  return kPosixPathStyle;
}

ListingContextPtr makeListingContext() {
  ListingContextPtr context(new ListingContext, [](ListingContext* done) { delete done; });
  std::size_t budget = kMostHeldDescriptors;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur < budget + kDescriptorsLeftToOthers) {
    budget = limit.rlim_cur > kDescriptorsLeftToOthers + 2
                 ? static_cast<std::size_t>(limit.rlim_cur) - kDescriptorsLeftToOthers
                 : 2;
  }
  context->budget = budget;
  return context;
}

void prepareListing(ListingContext&, const std::u16string&) {}

FolderReaderPtr makeFolderReader(ListingContext&) {
  return FolderReaderPtr(new FolderReader, [](FolderReader* done) {
    closeOpenFolder(done->folder);
    delete done;
  });
}

std::size_t folderHandleBudget(const ListingContext& context) {
  return context.budget;
}

std::size_t longestPathOpenedAtOnce(const ListingContext&) {
  return kLongestPathOpenedAtOnce;
}

std::uint32_t openFolder(FolderReader& reader, FolderHandle base, const std::u16string& path,
                         bool noFollow) {
  narrowInto(reader.nativeName, path);
  int from = base == kNoFolderHandle ? AT_FDCWD : static_cast<int>(base);
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0);
  reader.folder.descriptor = openat(from, reader.nativeName.c_str(), flags);
  if (reader.folder.descriptor < 0) return static_cast<std::uint32_t>(errno);
  // A folder removed while it was open lists nothing, not even "." and "..".
  if (!startReading(reader.directory, reader.folder) ||
      !readRawEntry(reader.directory, reader.folder, reader.pending)) {
    auto errorCode = static_cast<std::uint32_t>(errno ? errno : ENOENT);
    closeOpenFolder(reader.folder);
    return errorCode;
  }
  reader.havePending = true;
  return 0;
}

bool readOpenFolderIdentity(FolderReader& reader, FolderIdentity& identity) {
  return readDescriptorIdentity(reader.folder.descriptor, identity);
}

bool isInKernelFileSystem(FolderReader& reader) {
#if defined(__linux__)
  // The f_type that statfs gives each of them: proc, sysfs, cgroup, cgroup2, debugfs, tracefs,
  // securityfs, pstore, bpf, configfs, efivarfs, devpts, mqueue, binfmt_misc and fusectl.
  static constexpr unsigned long kKernelFileSystems[] = {
      0x9fa0,     0x62656572, 0x27e0eb,   0x63677270, 0x64626720,
      0x74726163, 0x73636673, 0x6165676c, 0xcafe4a11, 0x62656570,
      0xde5e81e4, 0x1cd1,     0x19800202, 0x42494e4d, 0x65735543};
  struct statfs fileSystem;
  if (fstatfs(reader.folder.descriptor, &fileSystem) != 0) return false;
  auto type = static_cast<unsigned long>(fileSystem.f_type);
  return std::find(std::begin(kKernelFileSystems), std::end(kKernelFileSystems), type) !=
         std::end(kKernelFileSystems);
#else
  (void)reader;
  return false;
#endif
}

bool readEntry(FolderReader& reader, FindEntry& entry) {
  RawEntry raw = reader.pending;
  if (!reader.havePending && !readRawEntry(reader.directory, reader.folder, raw)) return false;
  reader.havePending = false;
  describeEntry(reader.folder.descriptor, raw, entry);
  return true;
}

FolderHandle endReading(FolderReader& reader, bool keep) {
  reader.havePending = false;
  if (!keep) {
    closeOpenFolder(reader.folder);
    return kNoFolderHandle;
  }
  int descriptor = descriptorToKeep(reader.folder);
  return descriptor >= 0 ? descriptor : kNoFolderHandle;
}

void closeFolderHandle(ListingContext&, FolderHandle handle) {
  if (handle != kNoFolderHandle) close(static_cast<int>(handle));
}

bool lookUpFolderIdentity(ListingContext&, const std::u16string& path, FolderIdentity& identity) {
  std::string nativePath;
  narrowInto(nativePath, path);
  struct stat record;
  if (stat(nativePath.c_str(), &record) != 0 || !S_ISDIR(record.st_mode)) return false;
  identity = {record.st_dev, record.st_ino};
  return true;
}

std::uint32_t loopErrorCode() {
  return ELOOP;
}

std::uint32_t replacedFolderErrorCode() {
  return ENOENT;
}

bool isOutOfHandles(std::uint32_t errorCode) {
  return errorCode == EMFILE || errorCode == ENFILE;
}
