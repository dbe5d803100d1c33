// The Win32 clock and calendar: the system time, the time-zone conversion and the date and time
// formats of the user's locale.
#include <ctime>

#include "platform/clock.h"
#include "platform/common-win32.h"

namespace {

// The maximum length of a date or time text, terminator included.
constexpr int kDateTimeBufferLength = 255;

FILETIME toFILETIME(FileTime time) {
  return {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
}

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
