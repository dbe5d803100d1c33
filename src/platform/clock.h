// Time as the platform keeps it: the clock, the local calendar time of an instant, and the date and
// time texts of the user's locale. One implementation per platform (clock-posix.cc,
// clock-win32.cc); nothing here keeps state that changes.
#pragma once

#include <cstdint>
#include <string>

// 100-nanosecond intervals since 1601-01-01 00:00 UTC; 0 stands for no time.
using FileTime = std::uint64_t;
constexpr FileTime kFileTimeUnitsPerDay = 864000000000ULL;

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
