// POSIX services: folder listings through open descriptors, time and messages from the C library.
// Native text is bytes; each byte is the 16-bit unit of the same value.
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr std::int64_t kUnitsPerSecond = 10000000LL;
// Open listings beyond this are read to the end and closed, oldest first: a bound on descriptors
// and on listing buffers, whatever the depth of the tree.
constexpr std::size_t kMostOpenListings = 256;

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
FileTime toFileTime(const struct timespec& time) {
  constexpr FileTime kLatest = 0x7FFFFFFFFFFFFFFFULL;
  constexpr std::int64_t kLatestSecond = kLatest / kUnitsPerSecond - kSecondsFrom1601To1970;
  if (time.tv_sec < -kSecondsFrom1601To1970) return 0;
  if (time.tv_sec > kLatestSecond) return kLatest;
  FileTime units = static_cast<FileTime>(time.tv_sec + kSecondsFrom1601To1970) * kUnitsPerSecond +
                   static_cast<FileTime>(time.tv_nsec / 100);
  return units < kLatest ? units : kLatest;
}

// Which file a folder entry leads to, so that a loop through links is recognised.
struct FolderIdentity {
  dev_t device = 0;
  ino_t inode = 0;
};

bool sameFolder(const FolderIdentity& a, const FolderIdentity& b) {
  return a.device == b.device && a.inode == b.inode;
}

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
  int descriptor = -1;            // open while >= 0
  DIR* directory = nullptr;       // still being read while not null
  std::vector<SavedEntry> saved;  // what is left to yield once the descriptor was given up
  std::size_t nextSaved = 0;
  // The folder entry yielded last: the one a child listing opens.
  std::string currentName;
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

void describeNamelessEntry(const struct stat& status, FindEntry& entry) {
  entry.size = S_ISDIR(status.st_mode) ? 0 : static_cast<std::uint64_t>(status.st_size);
  entry.lastWrite = toFileTime(status.st_mtim);
}

// Fills `entry` for the entry `name` of the folder open as `folder`. Links and mount points are
// the reparse points; a link counts as a folder when its target is one.
void describeEntry(int folder, const FolderIdentity& folderIdentity, const char* name,
                   unsigned char type, FindEntry& entry, FolderIdentity& identity) {
  entry.attributes = 0;
  entry.size = 0;
  entry.lastWrite = 0;
  bool dotEntry = name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
  struct stat status;
  if (dotEntry) {
    entry.attributes = kFolderAttribute;
  } else if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    // Gone since the listing was read: still an entry; a folder gives its error when reached.
    if (type == DT_DIR) entry.attributes = kFolderAttribute;
  } else if (S_ISLNK(status.st_mode)) {
    entry.attributes = kReparsePointAttribute;
    describeNamelessEntry(status, entry);
    struct stat target;
    if (fstatat(folder, name, &target, 0) == 0 && S_ISDIR(target.st_mode)) {
      entry.attributes |= kFolderAttribute;
      identity = {target.st_dev, target.st_ino};
    }
  } else {
    describeNamelessEntry(status, entry);
    if (S_ISDIR(status.st_mode)) {
      entry.attributes = kFolderAttribute;
      if (status.st_dev != folderIdentity.device) entry.attributes |= kReparsePointAttribute;
      identity = {status.st_dev, status.st_ino};
    }
  }
  if (entry.attributes & kFolderAttribute) {
    entry.name = widen(name);
  } else {
    entry.name.clear();
  }
}

// Reads the next entry straight from the open directory.
bool readDirectoryEntry(FolderListing* listing, FindEntry& entry, std::string& nativeName,
                        FolderIdentity& identity) {
  errno = 0;
  struct dirent* record = readdir(listing->directory);
  if (!record) return false;
  describeEntry(dirfd(listing->directory), listing->identity, record->d_name, record->d_type, entry,
                identity);
  if (entry.attributes & kFolderAttribute) nativeName = record->d_name;
  return true;
}

void closeDescriptor(FolderListing* listing) {
  if (listing->directory) {
    closedir(listing->directory);
  } else if (listing->descriptor >= 0) {
    close(listing->descriptor);
  }
  listing->directory = nullptr;
  listing->descriptor = -1;
  forgetOpenListing(listing);
}

// Reads what is left of the listing into memory and gives up its descriptor; the entries are
// yielded later in their order, and the folder is opened again only to descend from it.
void setListingAside(FolderListing* listing) {
  if (listing->directory) {
    SavedEntry saved;
    while (readDirectoryEntry(listing, saved.entry, saved.nativeName, saved.identity)) {
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
    struct stat status;
    if (descriptor < 0 || fstat(descriptor, &status) != 0 ||
        !sameFolder({status.st_dev, status.st_ino}, step->identity)) {
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
    struct stat status;
    if (descriptor >= 0 && fstat(descriptor, &status) == 0) {
      listing->identity = {status.st_dev, status.st_ino};
    }
    errorCode = errno;
    return descriptor;
  }
  if (parent->currentIsReparsePoint && onTheWayFromTop(parent, parent->currentIdentity)) {
    errorCode = ELOOP;
    return -1;
  }
  if (parent->descriptor < 0 && !reopenListing(parent, errorCode)) return -1;
  listing->nativeName = parent->currentName;
  listing->identity = parent->currentIdentity;
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
    holdDescriptor(listing, descriptor);
    listing->directory = fdopendir(descriptor);
    if (!listing->directory) errorCode = errno;
    // A folder removed while it was open lists nothing, not even "." and "..".
    opened = listing->directory && findNextEntry(listing, first);
    if (listing->directory && !opened) errorCode = errno ? errno : ENOENT;
  }
  if (!opened) {
    closeFolderListing(listing);
    listing = nullptr;
  }
  return opened;
}

bool findNextEntry(FolderListing* listing, FindEntry& entry) {
  if (listing->directory) {
    if (!readDirectoryEntry(listing, entry, listing->currentName, listing->currentIdentity)) {
      return false;
    }
  } else {
    if (listing->nextSaved == listing->saved.size()) return false;
    SavedEntry& saved = listing->saved[listing->nextSaved++];
    entry = std::move(saved.entry);
    listing->currentName = std::move(saved.nativeName);
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
  struct timespec now;
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

std::u16string localTimeText(const SystemTime& time, const char* format) {
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
  char text[255];
  std::size_t length = strftime_l(text, sizeof text, format, &fields, timeLocale);
  return widen(text, length);
}

}  // namespace

std::u16string shortDateText(const SystemTime& time) {
  return localTimeText(time, "%x");
}

std::u16string timeOfDayText(const SystemTime& time) {
  return localTimeText(time, "%X");
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
