// Win32 services: folder listings, time, date texts and messages through the wide-character API.
// Native text is UTF-16, the tool's own text model, so names pass without conversion.
#include <windows.h>

#include <ctime>
#include <string>

#include "paths/paths.h"
#include "platform/platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is 16-bit");

namespace {

// The maximum length of a date or time text, terminator included.
constexpr int kDateTimeBufferLength = 255;
constexpr DWORD kMessageFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kUserDefaultLanguage = 1024;

const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string fromWide(const wchar_t* text, std::size_t count) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), count);
}

FileTime toFileTime(const FILETIME& time) {
  return static_cast<FileTime>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME toFILETIME(FileTime time) {
  return {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
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

// Which folder a path leads to, following reparse points: the volume and the file's index on it.
struct FolderIdentity {
  DWORD volumeSerial = 0;
  std::uint64_t fileIndex = 0;
};

bool sameFolder(const FolderIdentity& a, const FolderIdentity& b) {
  return a.volumeSerial == b.volumeSerial && a.fileIndex == b.fileIndex;
}

bool lookUpIdentity(const std::u16string& folderPath, FolderIdentity& identity) {
  // Backup semantics let a folder be opened as a file; no access right is needed to read its index.
  HANDLE file =
      CreateFileW(wide(folderPath), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  bool found = GetFileInformationByHandle(file, &information) != 0;
  CloseHandle(file);
  if (found) {
    identity.volumeSerial = information.dwVolumeSerialNumber;
    identity.fileIndex =
        static_cast<std::uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
  }
  return found;
}

}  // namespace

struct FolderListing {
  FolderListing* parent = nullptr;
  // The folder's path is this much of the path of any folder below it: kept as a length, so that
  // deep trees do not hold a copy of every ancestor's path.
  std::size_t pathLength = 0;
  HANDLE find = INVALID_HANDLE_VALUE;
  // Whether the entry yielded last is a reparse point: the one a child listing opens.
  bool currentIsReparsePoint = false;
  // Looked up only once a reparse point below is about to be followed, then kept.
  bool identityLookedUp = false;
  bool identityKnown = false;
  FolderIdentity identity;
};

namespace {

const FolderIdentity* identityOf(FolderListing* listing, const std::u16string& pathBelow) {
  if (!listing->identityLookedUp) {
    listing->identityKnown =
        lookUpIdentity(pathBelow.substr(0, listing->pathLength), listing->identity);
    listing->identityLookedUp = true;
  }
  return listing->identityKnown ? &listing->identity : nullptr;
}

// True when the reparse point at `folderPath` leads to a folder on the way from the top to it.
bool leadsBackUp(const std::u16string& folderPath, FolderListing* parent) {
  FolderIdentity target;
  if (!lookUpIdentity(folderPath, target)) return false;
  for (FolderListing* folder = parent; folder; folder = folder->parent) {
    const FolderIdentity* identity = identityOf(folder, folderPath);
    if (identity && sameFolder(*identity, target)) return true;
  }
  return false;
}

}  // namespace

bool openFolderListing(const std::u16string& folderPath, FolderListing* parent,
                       FolderListing*& listing, FindEntry& first, std::uint32_t& errorCode) {
  listing = nullptr;
  if (parent && parent->currentIsReparsePoint && leadsBackUp(folderPath, parent)) {
    errorCode = ERROR_CANT_RESOLVE_FILENAME;
    return false;
  }
  WIN32_FIND_DATAW data;
  std::u16string pattern = joinPath(folderPath.c_str(), u"*");
  HANDLE find = FindFirstFileExW(wide(pattern), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    errorCode = GetLastError();
    return false;
  }
  listing = new FolderListing;
  listing->parent = parent;
  listing->pathLength = folderPath.size();
  listing->find = find;
  describeEntry(data, first);
  listing->currentIsReparsePoint = first.attributes & kReparsePointAttribute;
  return true;
}

bool findNextEntry(FolderListing* listing, FindEntry& entry) {
  WIN32_FIND_DATAW data;
  if (!FindNextFileW(listing->find, &data)) return false;
  describeEntry(data, entry);
  listing->currentIsReparsePoint = entry.attributes & kReparsePointAttribute;
  return true;
}

void closeFolderListing(FolderListing* listing) {
  FindClose(listing->find);
  delete listing;
}

bool usesWindowsPathForms() {
  return true;
}

FileTime currentFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return toFileTime(now);
}

bool toLocalSystemTime(FileTime utc, SystemTime& local) {
  FILETIME utcTime = toFILETIME(utc);
  FILETIME localTime;
  SYSTEMTIME fields;
  if (!FileTimeToLocalFileTime(&utcTime, &localTime) ||
      !FileTimeToSystemTime(&localTime, &fields)) {
    return false;
  }
  local.year = fields.wYear;
  local.month = fields.wMonth;
  local.dayOfWeek = fields.wDayOfWeek;
  local.day = fields.wDay;
  local.hour = fields.wHour;
  local.minute = fields.wMinute;
  local.second = fields.wSecond;
  local.milliseconds = fields.wMilliseconds;
  return true;
}

namespace {

SYSTEMTIME toSYSTEMTIME(const SystemTime& time) {
  SYSTEMTIME fields;
  fields.wYear = static_cast<WORD>(time.year);
  fields.wMonth = static_cast<WORD>(time.month);
  fields.wDayOfWeek = static_cast<WORD>(time.dayOfWeek);
  fields.wDay = static_cast<WORD>(time.day);
  fields.wHour = static_cast<WORD>(time.hour);
  fields.wMinute = static_cast<WORD>(time.minute);
  fields.wSecond = static_cast<WORD>(time.second);
  fields.wMilliseconds = static_cast<WORD>(time.milliseconds);
  return fields;
}

// The text a date or time formatter wrote, without its terminator; empty when it wrote nothing.
std::u16string writtenText(const wchar_t* buffer, int countWithTerminator) {
  if (countWithTerminator <= 0) return {};
  return fromWide(buffer, static_cast<std::size_t>(countWithTerminator - 1));
}

}  // namespace

std::u16string shortDateText(const SystemTime& time) {
  SYSTEMTIME fields = toSYSTEMTIME(time);
  wchar_t buffer[kDateTimeBufferLength] = {};
  return writtenText(buffer, GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &fields, nullptr,
                                            buffer, kDateTimeBufferLength));
}

std::u16string timeOfDayText(const SystemTime& time) {
  SYSTEMTIME fields = toSYSTEMTIME(time);
  wchar_t buffer[kDateTimeBufferLength] = {};
  return writtenText(buffer, GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &fields, nullptr, buffer,
                                            kDateTimeBufferLength));
}

int currentLocalYear() {
  std::time_t now = std::time(nullptr);
  const std::tm* fields = std::localtime(&now);
  return fields ? fields->tm_year + 1900 : 1970;
}

std::u16string systemMessageText(std::uint32_t errorCode) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(kMessageFlags, nullptr, errorCode, kUserDefaultLanguage,
                                reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (!buffer) return {};
  std::u16string message = fromWide(buffer, length);
  LocalFree(buffer);
  return message;
}

bool prepareStandardOutput() {
  // Bytes go out through WriteFile, untouched by the runtime's text mode; only a console asks for
  // lines to be flushed as they end.
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool writeStandardOutput(const char* bytes, std::size_t count) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  while (count > 0) {
    DWORD chunk = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(output, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}
