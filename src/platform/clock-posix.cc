// The POSIX clock and calendar: clock_gettime, localtime_r, and the date and time formats of the
// user's LC_TIME locale.
#include <langinfo.h>
#include <time.h>

#include "platform/clock.h"
#include "platform/common-posix.h"

namespace {

// The date and the time texts are each built in a buffer of this many characters.
constexpr std::size_t kTimeTextBuffer = 255;

// The user's date and time formats, read from the environment once; never changed after.
locale_t userTimeLocale() {
  static const locale_t locale = userLocale(LC_TIME_MASK);
  return locale;
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
  locale_t locale = userTimeLocale();
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
  if (renderNumericFormat(nl_langinfo_l(item, locale), fields, rendered)) return rendered;
  char text[kTimeTextBuffer];
  std::size_t length = strftime_l(text, sizeof text, conversion, &fields, locale);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  return std::u16string(bytes, bytes + length);
}

}  // namespace

FileTime currentFileTime() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return toFileTime(now.tv_sec, static_cast<std::uint32_t>(now.tv_nsec));
}

bool toLocalSystemTime(FileTime utc, SystemTime& local) {
  time_t seconds = static_cast<time_t>(utc / kFileTimeUnitsPerSecond) - kSecondsFrom1601To1970;
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
