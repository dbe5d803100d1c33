// POSIX services: folder listings through open descriptors, time and messages from the C library.
// Native text is bytes; each byte is the 16-bit unit of the same value.
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/platform.h"

// On Linux a listing reads its folder with getdents64, many entries a call, and describes each
// entry with statx, asking only for the fields the scan uses. Other systems use readdir and
// fstatat.
#if defined(__linux__)
#include <sys/syscall.h>
#if defined(SYS_getdents64) && defined(STATX_TYPE)
#define TREEMETER_BATCHED_LISTING 1
#endif
#endif

namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr std::int64_t kUnitsPerSecond = 10000000LL;
// Open listings beyond this are read to the end and closed, oldest first: a bound on descriptors
// and on listing buffers, whatever the depth of the tree.
constexpr std::size_t kMostOpenListings = 256;
// The date and the time texts are each built in a buffer of this many characters.
constexpr std::size_t kTimeTextBuffer = 255;

std::u16string widen(const char* bytes, std::size_t count) {
  const auto* units = reinterpret_cast<const unsigned char*>(bytes);
  return std::u16string(units, units + count);
}

std::u16string widen(const char* text) {
  return widen(text, strlen(text));
}

std::string narrow(const std::u16string& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (char16_t unit : text) bytes += unit <= 0xFF ? static_cast<char>(unit) : '?';
  return bytes;
}

// Stamps before 1601 are 0; stamps past the last instant a FileTime holds as a time (top bit
// clear), which some file systems accept, are that instant.
FileTime toFileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
  constexpr FileTime kLatest = 0x7FFFFFFFFFFFFFFFULL;
  constexpr std::int64_t kLatestSecond = kLatest / kUnitsPerSecond - kSecondsFrom1601To1970;
  if (seconds < -kSecondsFrom1601To1970) return 0;
  if (seconds > kLatestSecond) return kLatest;
  FileTime units = static_cast<FileTime>(seconds + kSecondsFrom1601To1970) * kUnitsPerSecond +
                   static_cast<FileTime>(nanoseconds / 100);
  return units < kLatest ? units : kLatest;
}

FileTime toFileTime(const timespec& time) {
  return toFileTime(time.tv_sec, static_cast<std::uint32_t>(time.tv_nsec));
}

// Which file a folder entry leads to, so that a loop through links is recognised.
struct FolderIdentity {
  dev_t device = 0;
  ino_t inode = 0;
};

bool sameFolder(const FolderIdentity& a, const FolderIdentity& b) {
  return a.device == b.device && a.inode == b.inode;
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

#ifdef TREEMETER_BATCHED_LISTING

// The status of `name` in the folder open as `folder`, or of the link's target when `followLink`
// is set (then only its type and identity are wanted). A mount point is never triggered.
bool readEntryStatus(int folder, const char* name, bool followLink, EntryStatus& status) {
  struct statx record;
  unsigned int fields = followLink ? STATX_TYPE : STATX_TYPE | STATX_SIZE | STATX_MTIME;
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

// Batches are read into one buffer that the folder being read borrows. A folder that opens a
// child first moves the unread rest of its batch into a buffer of its own, of exactly that size,
// so a deep tree holds the rests of its open folders, never a full buffer per level.
constexpr std::size_t kBatchBytes = 16384;
alignas(8) char sharedBatch[kBatchBytes];

// The layout of a getdents64 record: 64-bit inode and offset, 16-bit length, type, name.
constexpr std::size_t kRecordLengthAt = 16;
constexpr std::size_t kRecordTypeAt = 18;
constexpr std::size_t kRecordNameAt = 19;

struct DirectoryReader {
  int descriptor = -1;
  const char* batch = nullptr;
  std::size_t batchBytes = 0;
  std::size_t nextRecord = 0;
  std::vector<char> unreadRest;
};

bool startReading(DirectoryReader& reader, int descriptor) {
  reader.descriptor = descriptor;
  return true;
}

bool isReading(const DirectoryReader& reader) {
  return reader.descriptor >= 0;
}

// False at the end of the folder, or with errno set when it cannot be read further.
bool readRawEntry(DirectoryReader& reader, RawEntry& raw) {
  if (reader.nextRecord == reader.batchBytes) {
    errno = 0;
    long count = syscall(SYS_getdents64, reader.descriptor, sharedBatch, kBatchBytes);
    if (count <= 0) return false;
    reader.batch = sharedBatch;
    reader.batchBytes = static_cast<std::size_t>(count);
    reader.nextRecord = 0;
    std::vector<char>().swap(reader.unreadRest);
  }
  const char* record = reader.batch + reader.nextRecord;
  unsigned short length;
  memcpy(&length, record + kRecordLengthAt, sizeof length);
  reader.nextRecord += length;
  raw.name = record + kRecordNameAt;
  raw.type = static_cast<unsigned char>(record[kRecordTypeAt]);
  return true;
}

void keepUnreadRest(DirectoryReader& reader) {
  if (reader.batch != sharedBatch) return;
  reader.unreadRest.assign(reader.batch + reader.nextRecord, reader.batch + reader.batchBytes);
  reader.batch = reader.unreadRest.data();
  reader.batchBytes = reader.unreadRest.size();
  reader.nextRecord = 0;
}

void stopReading(DirectoryReader& reader) {
  if (reader.descriptor >= 0) close(reader.descriptor);
  reader.descriptor = -1;
  reader.batch = nullptr;
  reader.batchBytes = reader.nextRecord = 0;
  std::vector<char>().swap(reader.unreadRest);
}

#else

bool readEntryStatus(int folder, const char* name, bool followLink, EntryStatus& status) {
  struct stat record;
  if (fstatat(folder, name, &record, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return false;
  status.isDirectory = S_ISDIR(record.st_mode);
  status.isLink = S_ISLNK(record.st_mode);
  status.size = static_cast<std::uint64_t>(record.st_size);
  status.lastWrite = toFileTime(record.st_mtim);
  status.identity = {record.st_dev, record.st_ino};
  return true;
}

bool readFolderIdentity(int descriptor, FolderIdentity& identity) {
  struct stat record;
  if (fstat(descriptor, &record) != 0) return false;
  identity = {record.st_dev, record.st_ino};
  return true;
}

struct DirectoryReader {
  DIR* directory = nullptr;
};

bool startReading(DirectoryReader& reader, int descriptor) {
  reader.directory = fdopendir(descriptor);
  if (!reader.directory) close(descriptor);
  return reader.directory != nullptr;
}

bool isReading(const DirectoryReader& reader) {
  return reader.directory != nullptr;
}

bool readRawEntry(DirectoryReader& reader, RawEntry& raw) {
  errno = 0;
  struct dirent* record = readdir(reader.directory);
  if (!record) return false;
  raw.name = record->d_name;
  raw.type = record->d_type;
  return true;
}

// The directory stream keeps its own buffer.
void keepUnreadRest(DirectoryReader&) {}

void stopReading(DirectoryReader& reader) {
  if (reader.directory) closedir(reader.directory);
  reader.directory = nullptr;
}

#endif

// An entry read ahead of its turn, kept when its listing had to give up its descriptor.
struct SavedEntry {
  FindEntry entry;
  std::string nativeName;
  FolderIdentity identity;
};

}  // namespace

struct FolderListing {
  FolderListing* parent = nullptr;
  // The folder's name in its parent, or its whole path for the top of the tree.
  std::string nativeName;
  FolderIdentity identity;
  // Reading the folder while it holds a descriptor; its entries are then described at once.
  DirectoryReader reader;
  // Open (for a child or to be read) while >= 0; a listing set aside has none.
  int descriptor = -1;
  std::vector<SavedEntry> saved;  // what is left to yield once the descriptor was given up
  std::size_t nextSaved = 0;
  // The folder entry yielded last: the one a child listing opens. The name lives in the batch
  // or the saved entry it came from, until the next entry is read.
  const char* currentName = nullptr;
  FolderIdentity currentIdentity;
  bool currentIsReparsePoint = false;
};

namespace {

// Listings holding a descriptor, in the order they got it.
std::vector<FolderListing*> openListings;

void forgetOpenListing(FolderListing* listing) {
  for (auto it = openListings.end(); it != openListings.begin();) {
    if (*--it == listing) {
      openListings.erase(it);
      return;
    }
  }
}

bool isDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Fills `entry` for the entry `raw` of the folder open as `folder`. Links and mount points are
// the reparse points; a link counts as a folder when its target is one. Only a folder's name is
// converted: nothing reads the name of any other entry.
void describeEntry(int folder, const FolderIdentity& folderIdentity, const RawEntry& raw,
                   FindEntry& entry, FolderIdentity& identity) {
  entry.attributes = 0;
  entry.size = 0;
  entry.lastWrite = 0;
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
      identity = target.identity;
    }
  } else {
    entry.lastWrite = status.lastWrite;
    if (status.isDirectory) {
      entry.attributes = kFolderAttribute;
      if (status.identity.device != folderIdentity.device) {
        entry.attributes |= kReparsePointAttribute;
      }
      identity = status.identity;
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

// Reads the next entry straight from the folder; `name` is left on the entry's name.
bool readDirectoryEntry(FolderListing* listing, FindEntry& entry, const char*& name,
                        FolderIdentity& identity) {
  RawEntry raw;
  if (!readRawEntry(listing->reader, raw)) return false;
  describeEntry(listing->descriptor, listing->identity, raw, entry, identity);
  name = raw.name;
  return true;
}

void closeDescriptor(FolderListing* listing) {
  if (isReading(listing->reader)) {
    stopReading(listing->reader);
  } else if (listing->descriptor >= 0) {
    close(listing->descriptor);
  }
  if (listing->descriptor >= 0) forgetOpenListing(listing);
  listing->descriptor = -1;
}

// Reads what is left of the listing into memory and gives up its descriptor; the entries are
// yielded later in their order, and the folder is opened again only to descend from it.
void setListingAside(FolderListing* listing) {
  if (isReading(listing->reader)) {
    SavedEntry saved;
    const char* name = nullptr;
    while (readDirectoryEntry(listing, saved.entry, name, saved.identity)) {
      saved.nativeName = saved.entry.attributes & kFolderAttribute ? name : "";
      listing->saved.push_back(saved);
    }
  }
  closeDescriptor(listing);
}

// Frees a descriptor by setting aside the oldest open listing other than `keep`.
bool freeDescriptor(const FolderListing* keep) {
  for (FolderListing* listing : openListings) {
    if (listing != keep) {
      setListingAside(listing);
      return true;
    }
  }
  return false;
}

// Opens a folder relative to `base` (or the current folder), setting listings aside while the
// process is short of descriptors; -1 with errno on failure. `extraFlags` is O_NOFOLLOW for a
// folder that was no link when it was listed.
int openFolder(int base, const char* name, const FolderListing* keep, int extraFlags = 0) {
  while (openListings.size() >= kMostOpenListings && freeDescriptor(keep)) {
  }
  for (;;) {
    int descriptor = openat(base, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags);
    if (descriptor >= 0) return descriptor;
    if ((errno != EMFILE && errno != ENFILE) || !freeDescriptor(keep)) return -1;
  }
}

void holdDescriptor(FolderListing* listing, int descriptor) {
  listing->descriptor = descriptor;
  openListings.push_back(listing);
}

// Gives a listing whose descriptor was set aside a descriptor again, by opening it anew from its
// nearest open ancestor (or from its path for the top of the tree), and checks it is the same
// folder.
bool reopenListing(FolderListing* listing, std::uint32_t& errorCode) {
  std::vector<FolderListing*> closed;
  for (FolderListing* step = listing; step && step->descriptor < 0; step = step->parent) {
    closed.push_back(step);
  }
  for (auto it = closed.rbegin(); it != closed.rend(); ++it) {
    FolderListing* step = *it;
    FolderListing* base = step->parent;
    int descriptor = openFolder(base ? base->descriptor : AT_FDCWD, step->nativeName.c_str(), base);
    FolderIdentity identity;
    if (descriptor < 0 || !readFolderIdentity(descriptor, identity) ||
        !sameFolder(identity, step->identity)) {
      errorCode = descriptor < 0 ? errno : ENOENT;
      if (descriptor >= 0) close(descriptor);
      return false;
    }
    holdDescriptor(step, descriptor);
  }
  return true;
}

bool onTheWayFromTop(const FolderListing* folder, const FolderIdentity& identity) {
  for (; folder; folder = folder->parent) {
    if (sameFolder(folder->identity, identity)) return true;
  }
  return false;
}

// Opens the descriptor of a new listing: the top of the tree by its path, any other folder
// relative to its parent.
int openListingDescriptor(const std::u16string& folderPath, FolderListing* parent,
                          FolderListing* listing, std::uint32_t& errorCode) {
  if (!parent) {
    listing->nativeName = narrow(folderPath);
    int descriptor = openFolder(AT_FDCWD, listing->nativeName.c_str(), nullptr);
    errorCode = errno;
    if (descriptor >= 0) readFolderIdentity(descriptor, listing->identity);
    return descriptor;
  }
  if (parent->currentIsReparsePoint && onTheWayFromTop(parent, parent->currentIdentity)) {
    errorCode = ELOOP;
    return -1;
  }
  // Copied first: making room for descriptors may read other listings over the parent's batch.
  listing->nativeName = parent->currentName;
  listing->identity = parent->currentIdentity;
  keepUnreadRest(parent->reader);
  if (parent->descriptor < 0 && !reopenListing(parent, errorCode)) return -1;
  // A folder replaced by a link since it was listed is not followed: a scan that follows no links
  // would otherwise leave the tree. It fails with ELOOP, like any folder that cannot be listed.
  int noFollow = parent->currentIsReparsePoint ? 0 : O_NOFOLLOW;
  int descriptor = openFolder(parent->descriptor, listing->nativeName.c_str(), parent, noFollow);
  errorCode = errno;
  return descriptor;
}

}  // namespace

bool openFolderListing(const std::u16string& folderPath, FolderListing* parent,
                       FolderListing*& listing, FindEntry& first, std::uint32_t& errorCode) {
  listing = new FolderListing;
  listing->parent = parent;
  int descriptor = openListingDescriptor(folderPath, parent, listing, errorCode);
  bool opened = false;
  if (descriptor >= 0) {
    if (startReading(listing->reader, descriptor)) {
      holdDescriptor(listing, descriptor);
      // A folder removed while it was open lists nothing, not even "." and "..".
      opened = findNextEntry(listing, first);
      if (!opened) errorCode = errno ? errno : ENOENT;
    } else {
      errorCode = errno;
    }
  }
  if (!opened) {
    closeFolderListing(listing);
    listing = nullptr;
  }
  return opened;
}

bool findNextEntry(FolderListing* listing, FindEntry& entry) {
  if (isReading(listing->reader)) {
    if (!readDirectoryEntry(listing, entry, listing->currentName, listing->currentIdentity)) {
      return false;
    }
  } else {
    if (listing->nextSaved == listing->saved.size()) return false;
    SavedEntry& saved = listing->saved[listing->nextSaved++];
    entry = std::move(saved.entry);
    listing->currentName = saved.nativeName.c_str();
    listing->currentIdentity = saved.identity;
  }
  listing->currentIsReparsePoint = entry.attributes & kReparsePointAttribute;
  return true;
}

void closeFolderListing(FolderListing* listing) {
  closeDescriptor(listing);
  delete listing;
}

bool usesWindowsPathForms() {
  return false;
}

FileTime currentFileTime() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return toFileTime(now);
}

bool toLocalSystemTime(FileTime utc, SystemTime& local) {
  time_t seconds = static_cast<time_t>(utc / kUnitsPerSecond) - kSecondsFrom1601To1970;
  struct tm fields;
  if (!localtime_r(&seconds, &fields)) return false;
  local.year = fields.tm_year + 1900;
  local.month = fields.tm_mon + 1;
  local.dayOfWeek = fields.tm_wday;
  local.day = fields.tm_mday;
  local.hour = fields.tm_hour;
  local.minute = fields.tm_min;
  local.second = fields.tm_sec;
  local.milliseconds = static_cast<int>(utc / 10000 % 1000);
  return true;
}

namespace {

// The user's locale for one category, from the environment; the process's own locale is left as
// it is, so numbers keep "." as their decimal point.
locale_t userLocale(int categoryMask) {
  locale_t locale = newlocale(categoryMask, "", nullptr);
  return locale ? locale : newlocale(categoryMask, "C", nullptr);
}

int dayOfYear(const SystemTime& time) {
  static const int kDaysBeforeMonth[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  bool leap = (time.year % 4 == 0 && time.year % 100 != 0) || time.year % 400 == 0;
  return kDaysBeforeMonth[(time.month - 1) % 12] + (leap && time.month > 2) + time.day - 1;
}

// The numeric conversions that date and time formats are mostly made of, rendered here: strftime
// would cost more than all the rest of a report row. False for anything else, which is left to
// strftime.
bool renderNumericFormat(const char* format, const struct tm& fields, std::u16string& text) {
  text.clear();
  for (const char* at = format; *at; ++at) {
    if (*at != '%') {
      text += static_cast<unsigned char>(*at);
      continue;
    }
    int value = 0;
    int width = 2;
    switch (*++at) {
      case '%':
        text += u'%';
        continue;
      case 'd':
        value = fields.tm_mday;
        break;
      case 'm':
        value = fields.tm_mon + 1;
        break;
      case 'y':
        value = (fields.tm_year % 100 + 100) % 100;
        break;
      case 'Y':
        value = fields.tm_year + 1900;
        width = 4;
        if (value < 1000 || value > 9999) return false;
        break;
      case 'H':
        value = fields.tm_hour;
        break;
      case 'M':
        value = fields.tm_min;
        break;
      case 'S':
        value = fields.tm_sec;
        break;
      default:
        return false;
    }
    if (value < 0) return false;
    char digits[4];
    for (int digit = width - 1; digit >= 0; --digit, value /= 10) {
      digits[digit] = static_cast<char>('0' + value % 10);
    }
    if (value != 0) return false;
    for (int digit = 0; digit < width; ++digit) text += static_cast<char16_t>(digits[digit]);
  }
  // strftime's buffer holds 254 characters; a longer text is its business.
  return text.size() < kTimeTextBuffer;
}

// The text of `conversion` ("%x" or "%X"), whose format in the user's locale is `item`.
std::u16string localTimeText(const SystemTime& time, nl_item item, const char* conversion) {
  static locale_t timeLocale = userLocale(LC_TIME_MASK);
  struct tm fields = {};
  fields.tm_year = time.year - 1900;
  fields.tm_mon = time.month - 1;
  fields.tm_wday = time.dayOfWeek;
  fields.tm_mday = time.day;
  fields.tm_yday = dayOfYear(time);
  fields.tm_hour = time.hour;
  fields.tm_min = time.minute;
  fields.tm_sec = time.second;
  fields.tm_isdst = -1;
  std::u16string rendered;
  if (renderNumericFormat(nl_langinfo_l(item, timeLocale), fields, rendered)) return rendered;
  char text[kTimeTextBuffer];
  std::size_t length = strftime_l(text, sizeof text, conversion, &fields, timeLocale);
  return widen(text, length);
}

}  // namespace

std::u16string shortDateText(const SystemTime& time) {
  return localTimeText(time, D_FMT, "%x");
}

std::u16string timeOfDayText(const SystemTime& time) {
  return localTimeText(time, T_FMT, "%X");
}

int currentLocalYear() {
  time_t now = time(nullptr);
  struct tm fields;
  return localtime_r(&now, &fields) ? fields.tm_year + 1900 : 1970;
}

std::u16string systemMessageText(std::uint32_t errorCode) {
  static locale_t messageLocale = userLocale(LC_MESSAGES_MASK);
  auto code = static_cast<int>(errorCode);
#ifdef __GLIBC__
  // glibc names every code it has a message for; the others would read "Unknown error".
  if (!strerrorname_np(code)) return {};
#endif
  return widen(strerror_l(code, messageLocale));
}

bool prepareStandardOutput() {
  // A reader that goes away shows as a failed write, which ends the run, not as a signal.
  signal(SIGPIPE, SIG_IGN);
  return isatty(STDOUT_FILENO) == 1;
}

bool writeStandardOutput(const char* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t written = write(STDOUT_FILENO, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}
