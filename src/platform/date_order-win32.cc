// The Win32 date order: that of the user's short date picture ("d/M/yyyy", "yyyy-MM-dd").
#include "platform/common-win32.h"
#include "platform/date_order.h"

DateOrder userDateOrder() {
  wchar_t picture[LOCALE_NAME_MAX_LENGTH * 2] = {};
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SSHORTDATE, picture,
                      sizeof picture / sizeof picture[0]) <= 0) {
    return DateOrder::kMonthDayYear;
  }
  bool quoted = false;  // text in single quotes is literal
  for (const wchar_t* at = picture; *at; ++at) {
    if (*at == L'\'') quoted = !quoted;
    if (quoted) continue;
    if (*at == L'd') return DateOrder::kDayMonthYear;
    if (*at == L'M') return DateOrder::kMonthDayYear;
    if (*at == L'y') return DateOrder::kYearMonthDay;
  }
  return DateOrder::kMonthDayYear;
}
