// POSIX listings through open descriptors: every folder is opened relative to its parent's
// descriptor, never by its full path, so no path limit applies and no level is resolved twice.
//
// The context holds the descriptors of folders kept for opening their subfolders, and counts every
// descriptor the scan holds (kept ones, and those being read or opened) against a budget. A kept
// descriptor stays while a subfolder's reader uses it. When the budget or the process runs short,
// the least recently used kept descriptor that no reader uses is closed; a folder whose descriptor
// went is opened again, when a subfolder of it is wanted, from its nearest kept ancestor (or from
// its path, for the top), and must prove to be the same folder. The scan's lock guards it all.
#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

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
constexpr std::size_t kMostHeldDescriptors = 256;
// Left to the rest of the process: the standard streams and whatever the C library opens.
constexpr std::size_t kDescriptorsLeftToOthers = 8;
// A folder opened again from an ancestor is reached through paths of at most this many bytes.
constexpr std::size_t kReopenPathBytes = 2048;

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

bool readFolderIdentity(int descriptor, FolderIdentity& identity) {
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

bool readFolderIdentity(int descriptor, FolderIdentity& identity) {
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

#endif

// A file system that holds no stored data and whose links branch out without end (every
// /proc/PID/root, cwd and fd; /sys/class into /sys/devices): never entered through a reparse
// point, or a scan that follows links would not end.
bool isKernelFileSystem(int descriptor) {
#if defined(__linux__)
  // The f_type that statfs gives each of them: proc, sysfs, cgroup, cgroup2, debugfs, tracefs,
  // securityfs, pstore, bpf, configfs, efivarfs, devpts, mqueue, binfmt_misc and fusectl.
  static constexpr unsigned long kKernelFileSystems[] = {
      0x9fa0,     0x62656572, 0x27e0eb,   0x63677270, 0x64626720,
      0x74726163, 0x73636673, 0x6165676c, 0xcafe4a11, 0x62656570,
      0xde5e81e4, 0x1cd1,     0x19800202, 0x42494e4d, 0x65735543};
  struct statfs fileSystem;
  if (fstatfs(descriptor, &fileSystem) != 0) return false;
  auto type = static_cast<unsigned long>(fileSystem.f_type);
  return std::find(std::begin(kKernelFileSystems), std::end(kKernelFileSystems), type) !=
         std::end(kKernelFileSystems);
#else
  (void)descriptor;
  return false;
#endif
}

// A folder's descriptor kept for opening its subfolders; the folder names it by its keptAt.
struct KeptFolder {
  const FolderRef* folder = nullptr;  // null for a record not in use
  OpenFolder open;
  std::size_t users = 0;  // readers of subfolders opened relative to it, still reading
  bool subfoldersDone = false;
  std::uint64_t lastUse = 0;
};

}  // namespace

struct ListingContext {
  std::condition_variable descriptorFreed;  // waited on with the scan's lock
  std::size_t budget = 0;
  // Descriptors the scan holds: kept ones, and those being read or opened.
  std::size_t held = 0;
  // Readers between openFolder and closeFolder, and those of them waiting for a descriptor: when
  // all wait, none would release one, so one goes ahead regardless.
  std::size_t reading = 0;
  std::size_t waiting = 0;
  std::uint64_t uses = 0;
  std::vector<KeptFolder> kept;
  std::vector<std::int32_t> unusedKept;  // indices of records not in use
  // Kept folders no longer wanted, closed by the next reader to let the lock go: a close under the
  // lock would keep every other reader waiting.
  std::vector<OpenFolder> closing;
};

struct FolderReader {
  OpenFolder folder;
  const FolderRef* parentInUse = nullptr;  // whose kept descriptor the folder was opened from
  FolderIdentity identity;  // of the folder being read: a subfolder elsewhere is a mount point
  bool havePending = false;
  RawEntry pending;                 // the first entry, read when the folder was opened
  std::string nativeName;           // scratch for names on their way to the system
  std::vector<OpenFolder> closing;  // taken from the context, to close without the lock
  DirectoryReader directory;
};

namespace {

using ScanLock = std::unique_lock<std::mutex>;

void releaseDescriptor(ListingContext& context) {
  --context.held;
  if (context.waiting > 0) context.descriptorFreed.notify_all();
}

// What the context keeps for `folder`; null when it keeps nothing.
KeptFolder* keptFor(ListingContext& context, const FolderRef& folder) {
  return folder.keptAt >= 0 ? &context.kept[static_cast<std::size_t>(folder.keptAt)] : nullptr;
}

// Keeps `open` for `folder`, in a record that stays where it is until dropKept.
KeptFolder& keep(ListingContext& context, const FolderRef& folder, const OpenFolder& open) {
  if (context.unusedKept.empty()) {
    context.unusedKept.push_back(static_cast<std::int32_t>(context.kept.size()));
    context.kept.emplace_back();
  }
  folder.keptAt = context.unusedKept.back();
  context.unusedKept.pop_back();
  KeptFolder& kept = context.kept[static_cast<std::size_t>(folder.keptAt)];
  kept = KeptFolder();
  kept.folder = &folder;
  kept.open = open;
  kept.lastUse = ++context.uses;
  return kept;
}

// Takes a kept folder out of the context, to be closed now or by the next reader to let the lock
// go.
void dropKept(ListingContext& context, KeptFolder& kept, bool closeNow) {
  if (closeNow) {
    closeOpenFolder(kept.open);
  } else {
    context.closing.push_back(kept.open);
  }
  context.unusedKept.push_back(kept.folder->keptAt);
  kept.folder->keptAt = -1;
  kept = KeptFolder();
  releaseDescriptor(context);
}

// Closes the least recently used kept descriptor that no reader uses; false when there is none.
bool giveUpKeptDescriptor(ListingContext& context) {
  KeptFolder* oldest = nullptr;
  for (KeptFolder& kept : context.kept) {
    if (kept.folder && kept.users == 0 && (!oldest || kept.lastUse < oldest->lastUse)) {
      oldest = &kept;
    }
  }
  if (!oldest) return false;
  // Closed at once: the descriptor is wanted now.
  dropKept(context, *oldest, true);
  return true;
}

// Counts one more descriptor against the budget, first giving up kept ones or waiting for others
// to be released while the budget is spent.
void reserveDescriptor(ListingContext& context, ScanLock& lock) {
  while (context.held >= context.budget && !giveUpKeptDescriptor(context)) {
    // Every descriptor held is in use by a reader at work; when all of them wait here, this one
    // goes ahead and lets the system say whether there is room.
    if (context.waiting + 1 >= context.reading) break;
    ++context.waiting;
    context.descriptorFreed.wait(lock);
    --context.waiting;
  }
  ++context.held;
}

// Opens `path` relative to `base` within the budget, letting the lock go for the system call.
// Returns the descriptor with the lock let go; or -1, with errno, and the lock held. When the
// process runs out of descriptors before the budget does, the budget shrinks to what it holds and
// kept descriptors make room.
int openCounted(ListingContext& context, ScanLock& lock, FolderReader& reader, int base,
                const char* path, int flags) {
  reserveDescriptor(context, lock);
  for (;;) {
    reader.closing.swap(context.closing);
    lock.unlock();
    for (OpenFolder& folder : reader.closing) closeOpenFolder(folder);
    reader.closing.clear();
    int descriptor = openat(base, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags);
    if (descriptor >= 0) return descriptor;
    int openError = errno;
    takeScanLock(lock);
    bool outOfDescriptors = openError == EMFILE || openError == ENFILE;
    if (outOfDescriptors && context.held > 1) context.budget = context.held - 1;
    if (!outOfDescriptors || !giveUpKeptDescriptor(context)) {
      releaseDescriptor(context);
      errno = openError;
      return -1;
    }
  }
}

// The folder open as `descriptor` is `folder` itself, not another one put in its place.
bool isSameFolder(int descriptor, const FolderRef& folder) {
  FolderIdentity identity;
  return readFolderIdentity(descriptor, identity) && identity == folder.identity;
}

// Opens `folder` again, from its nearest kept ancestor or from the top's path, through paths of
// bounded length; -1 with errno when that fails or leads to another folder. The lock is held on
// entry and on return.
int reopenFolder(ListingContext& context, ScanLock& lock, FolderReader& reader,
                 const FolderRef& folder) {
  std::vector<std::string> way;  // the names from below the kept ancestor down to `folder`
  const FolderRef* base = &folder;
  for (; base && base->keptAt < 0; base = base->parent) {
    narrowInto(way.emplace_back(), base->name);
  }
  // Kept in use meanwhile, so that it is not given up while the lock is let go.
  if (base) ++keptFor(context, *base)->users;
  int descriptor = base ? keptFor(context, *base)->open.descriptor : AT_FDCWD;
  bool descriptorIsOurs = false;
  std::string path;
  for (auto name = way.rbegin(); name != way.rend() && descriptor != -1; ++name) {
    path += path.empty() ? "" : "/";
    path += *name;
    bool last = name + 1 == way.rend();
    if (!last && path.size() + 1 + name[1].size() <= kReopenPathBytes) continue;
    int next = openCounted(context, lock, reader, descriptor, path.c_str(), 0);
    int openError = errno;
    if (next >= 0) takeScanLock(lock);
    if (descriptorIsOurs) {
      close(descriptor);
      releaseDescriptor(context);
    }
    descriptor = next;
    descriptorIsOurs = true;
    path.clear();
    errno = openError;
  }
  // Looked up again: the records may have moved while the lock was let go.
  if (base) --keptFor(context, *base)->users;
  if (descriptor >= 0 && !isSameFolder(descriptor, folder)) {
    close(descriptor);
    releaseDescriptor(context);
    errno = ENOENT;
    descriptor = -1;
  }
  return descriptor;
}

// The descriptor of `parent`, in use by the caller until it lets it go; -1 with errno when the
// folder could not be opened again. The lock is held on entry and on return.
int useParent(ListingContext& context, ScanLock& lock, FolderReader& reader,
              const FolderRef& parent) {
  if (parent.keptAt < 0) {
    int descriptor = reopenFolder(context, lock, reader, parent);
    if (descriptor < 0) return -1;
    if (parent.keptAt >= 0) {
      // Opened again by another reader meanwhile: one copy is enough.
      close(descriptor);
      releaseDescriptor(context);
    } else {
      OpenFolder reopened;
      reopened.descriptor = descriptor;
      keep(context, parent, reopened);
    }
  }
  KeptFolder& kept = *keptFor(context, parent);
  ++kept.users;
  kept.lastUse = ++context.uses;
  return kept.open.descriptor;
}

// The reader is done with its parent's descriptor and with the context; the lock is held.
void stopReading(ListingContext& context, FolderReader& reader) {
  if (reader.parentInUse) {
    KeptFolder& kept = *keptFor(context, *reader.parentInUse);
    if (--kept.users == 0 && kept.subfoldersDone) dropKept(context, kept, false);
    reader.parentInUse = nullptr;
  }
  --context.reading;
  if (context.waiting > 0) context.descriptorFreed.notify_all();
}

// Ends the reading of a folder that will not be listed after all; the lock is held on return.
void abandonReading(ListingContext& context, ScanLock& lock, FolderReader& reader) {
  closeOpenFolder(reader.folder);
  takeScanLock(lock);
  releaseDescriptor(context);
  stopReading(context, reader);
}

bool leadsBackUp(const FolderRef& folder) {
  for (const FolderRef* above = folder.parent; above; above = above->parent) {
    if (above->identity == folder.identity) return true;
  }
  return false;
}

// Fills `entry` for the entry `raw` of the folder open as `folder`. Links and mount points are
// the reparse points; a link counts as a folder when its target is one. Only a folder's name is
// converted: nothing reads the name of any other entry.
void describeEntry(int folder, const FolderIdentity& folderIdentity, const RawEntry& raw,
                   FindEntry& entry) {
  entry.attributes = 0;
  entry.size = 0;
  entry.lastWrite = 0;
  entry.identityState = IdentityState::NotLookedUp;
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
      entry.identityState = IdentityState::Known;
    }
  } else {
    entry.lastWrite = status.lastWrite;
    if (status.isDirectory) {
      entry.attributes = kFolderAttribute;
      if (status.identity.volume != folderIdentity.volume) {
        entry.attributes |= kReparsePointAttribute;
      }
      entry.identity = status.identity;
      entry.identityState = IdentityState::Known;
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

const PathStyle& nativePathStyle() {
  return kPosixPathStyle;
}

ListingContextPtr makeListingContext() {
  ListingContextPtr context(new ListingContext, [](ListingContext* done) {
    for (KeptFolder& kept : done->kept) closeOpenFolder(kept.open);
    for (OpenFolder& folder : done->closing) closeOpenFolder(folder);
    delete done;
  });
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

std::size_t mostConcurrentReaders(const ListingContext& context) {
  // A reader holds the folder it reads and uses its parent's; opening a folder again from an
  // ancestor takes one more for a while.
  return context.budget >= 6 ? context.budget / 3 : 1;
}

FolderReaderPtr makeFolderReader() {
  return FolderReaderPtr(new FolderReader, [](FolderReader* done) { delete done; });
}

FolderOpening openFolder(ListingContext& context, std::unique_lock<std::mutex>& lock,
                         FolderReader& reader, const FolderRef& folder, std::uint32_t& errorCode) {
  if (folder.throughReparsePoint && leadsBackUp(folder)) {
    errorCode = ELOOP;
    return FolderOpening::Failed;
  }
  ++context.reading;
  int base = AT_FDCWD;
  if (folder.parent) {
    base = useParent(context, lock, reader, *folder.parent);
    if (base < 0) {
      errorCode = static_cast<std::uint32_t>(errno);
      stopReading(context, reader);
      return FolderOpening::Failed;
    }
    reader.parentInUse = folder.parent;
  }
  // A folder replaced by a link since it was listed is not followed: a scan that follows no links
  // would otherwise leave the tree. It fails with ELOOP, like any folder that cannot be listed.
  int noFollow = folder.parent && !folder.throughReparsePoint ? O_NOFOLLOW : 0;
  narrowInto(reader.nativeName, folder.name);
  reader.folder.descriptor =
      openCounted(context, lock, reader, base, reader.nativeName.c_str(), noFollow);
  if (reader.folder.descriptor < 0) {
    errorCode = static_cast<std::uint32_t>(errno);
    stopReading(context, reader);
    return FolderOpening::Failed;
  }
  // The lock is let go from here on, until the reading ends.
  if (!folder.parent) {
    folder.identityState = readFolderIdentity(reader.folder.descriptor, folder.identity)
                               ? IdentityState::Known
                               : IdentityState::Unavailable;
  }
  if (folder.throughReparsePoint && isKernelFileSystem(reader.folder.descriptor)) {
    abandonReading(context, lock, reader);
    return FolderOpening::NotEntered;
  }
  reader.identity = folder.identity;
  // A folder removed while it was open lists nothing, not even "." and "..".
  if (!startReading(reader.directory, reader.folder) ||
      !readRawEntry(reader.directory, reader.folder, reader.pending)) {
    errorCode = static_cast<std::uint32_t>(errno ? errno : ENOENT);
    abandonReading(context, lock, reader);
    return FolderOpening::Failed;
  }
  reader.havePending = true;
  return FolderOpening::Opened;
}

bool readEntry(FolderReader& reader, FindEntry& entry) {
  RawEntry raw = reader.pending;
  if (!reader.havePending && !readRawEntry(reader.directory, reader.folder, raw)) return false;
  reader.havePending = false;
  describeEntry(reader.folder.descriptor, reader.identity, raw, entry);
  return true;
}

void closeFolder(ListingContext& context, std::unique_lock<std::mutex>& lock, FolderReader& reader,
                 const FolderRef& folder, bool keepForSubfolders) {
  if (!keepForSubfolders) closeOpenFolder(reader.folder);
  takeScanLock(lock);
  if (keepForSubfolders) {
    keep(context, folder, reader.folder);
    reader.folder = OpenFolder();
  } else {
    releaseDescriptor(context);
  }
  stopReading(context, reader);
}

void doneWithSubfolders(ListingContext& context, const FolderRef& folder) {
  KeptFolder* kept = keptFor(context, folder);
  if (!kept) return;
  kept->subfoldersDone = true;
  if (kept->users == 0) dropKept(context, *kept, false);
}
