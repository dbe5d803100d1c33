// The POSIX date order: that of the %x format of the user's LC_TIME locale.
#include <langinfo.h>

#include <string_view>

#include "platform/common-posix.h"
#include "platform/date_order.h"

DateOrder userDateOrder() {
  locale_t locale = userLocale(LC_TIME_MASK);
  std::string_view format = locale ? nl_langinfo_l(D_FMT, locale) : "%m/%d/%y";
  DateOrder order = DateOrder::kMonthDayYear;  // the C locale's, and %D's
  for (std::size_t at = format.find('%'); at != std::string_view::npos && at + 1 < format.size();
       at = format.find('%', at + 2)) {
    // The first of the three fields decides; a modifier (%Ey, %Od) stands before its letter.
    std::size_t letter = format.find_first_not_of("EO0^#-_", at + 1);
    if (letter == std::string_view::npos) break;
    char field = format[letter];
    if (field == 'd' || field == 'e') {
      order = DateOrder::kDayMonthYear;
    } else if (field == 'y' || field == 'Y' || field == 'F' || field == 'C' || field == 'G') {
      order = DateOrder::kYearMonthDay;
    } else if (field != 'm' && field != 'b' && field != 'B' && field != 'h' && field != 'D') {
      continue;
    }
    break;
  }
  if (locale) freelocale(locale);
  return order;
}
