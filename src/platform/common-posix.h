// What the POSIX files share: times as FileTime values, and the user's locale for one category.
#pragma once

#include <locale.h>

#include <cstdint>

#include "platform/clock.h"

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000LL;

// Stamps before 1601 are 0; stamps past the last instant a FileTime holds as a time (top bit
// clear), which some file systems accept, are that instant.
inline FileTime toFileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
  constexpr FileTime kLatest = 0x7FFFFFFFFFFFFFFFULL;
  constexpr std::int64_t kLatestSecond =
      static_cast<std::int64_t>(kLatest / kFileTimeUnitsPerSecond) - kSecondsFrom1601To1970;
  if (seconds < -kSecondsFrom1601To1970) return 0;
  if (seconds > kLatestSecond) return kLatest;
  FileTime units =
      static_cast<FileTime>(seconds + kSecondsFrom1601To1970) * kFileTimeUnitsPerSecond +
      static_cast<FileTime>(nanoseconds / 100);
  return units < kLatest ? units : kLatest;
}

// The user's locale for one category, from the environment, or the C locale where it names none
// that exists. Used through its own object, so the process's locale (and with it the decimal point
// of numbers) is never changed.
inline locale_t userLocale(int categoryMask) {
  locale_t user = newlocale(categoryMask, "", nullptr);
  return user ? user : newlocale(categoryMask, "C", nullptr);
}
