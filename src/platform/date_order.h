// The order of day, month and year in the user's short date format: what a reader of dates falls
// back on when the dates themselves leave it open. One implementation per platform
// (date_order-posix.cc, date_order-win32.cc).
#pragma once

enum class DateOrder { kDayMonthYear, kMonthDayYear, kYearMonthDay };

DateOrder userDateOrder();
