// The operating-system services Treemeter relies on, in its own terms.
// One implementation per platform (platform-posix.cc, platform-win32.cc), chosen by the build;
// nothing above this header knows which one it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// 100-nanosecond intervals since 1601-01-01 00:00 UTC; 0 stands for no time.
using FileTime = std::uint64_t;
constexpr FileTime kFileTimeUnitsPerDay = 864000000000ULL;

constexpr std::uint32_t kFolderAttribute = 0x10;
constexpr std::uint32_t kReparsePointAttribute = 0x400;

// One record of a folder listing.
struct FindEntry {
  std::uint32_t attributes = 0;
  FileTime lastWrite = 0;
  std::uint64_t size = 0;
  // Filled for folders only (kFolderAttribute set): nothing reads the name of any other entry,
  // so the listing does not spend time converting it.
  std::u16string name;
};

// The broken-down local calendar time of an instant, fed only to the date and time texts.
struct SystemTime {
  int year = 0;
  int month = 0;      // 1 to 12
  int dayOfWeek = 0;  // 0 is Sunday
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// An open folder listing; what it holds is the platform's own business.
struct FolderListing;

// Opens the listing of the folder at `folderPath` (extended-length form) and yields its first
// entry. `parent` is null for the top of the tree; otherwise it is the open listing whose most
// recently yielded entry is this folder, and `folderPath` is that listing's path joined with the
// entry's name. The listing holds "." and ".." where the file system gives them. On failure
// `errorCode` is the system's code and no listing is left open; a reparse point that leads back to
// a folder on the way from the top fails with the platform's loop code.
bool openFolderListing(const std::u16string& folderPath, FolderListing* parent,
                       FolderListing*& listing, FindEntry& first, std::uint32_t& errorCode);

// Yields the next entry, in the order the file system gives; false at the end of the listing or
// when it cannot be read further.
bool findNextEntry(FolderListing* listing, FindEntry& entry);

// Closes a listing that openFolderListing opened; once for each.
void closeFolderListing(FolderListing* listing);

// True where folders are listed in the Windows extended-length form, with "\\" as separator.
bool usesWindowsPathForms();

// The current UTC time.
FileTime currentFileTime();

// The local calendar time of a UTC instant, with the time-zone offset in force now; false when
// the instant cannot be converted.
bool toLocalSystemTime(FileTime utc, SystemTime& local);

// The date in the user's short date format and the time in the user's time format; empty when
// the text cannot be formed.
std::u16string shortDateText(const SystemTime& time);
std::u16string timeOfDayText(const SystemTime& time);

// The local calendar year of the current moment.
int currentLocalYear();

// The system's message for an error code, unchanged (with its own line end where the system
// gives one); empty when the system has no message for the code.
std::u16string systemMessageText(std::uint32_t errorCode);

// Prepares standard output for raw bytes; true when it is an interactive terminal.
bool prepareStandardOutput();

// Writes bytes to standard output as they are; false when they could not all be written.
bool writeStandardOutput(const char* bytes, std::size_t count);
