#include "view/report_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <limits>

#include "paths/paths.h"
#include "platform/memory.h"
#include "view/encode.h"

namespace {

constexpr std::string_view kHeader =
    "path\ttotal size\tsize on disk\tfile count\tlatest file stamp";
constexpr std::string_view kBannerStart = "Treemeter v";
constexpr std::string_view kFolderStart = "Generating stats for: ";
constexpr std::string_view kCutoffStart = "Treemeter counts files written on or after: ";
constexpr std::string_view kErrorStart = "Error accessing folder: ";
constexpr std::uint64_t kMostBytes = std::numeric_limits<std::uint64_t>::max();
constexpr DateOrder kDateOrders[] = {DateOrder::kMonthDayYear, DateOrder::kDayMonthYear,
                                     DateOrder::kYearMonthDay};

bool beginsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// A whole unsigned decimal number, nothing else.
bool readWholeNumber(std::string_view text, std::uint64_t& value) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

struct SizeUnit {
  std::string_view label;
  std::uint64_t bytes;
};
constexpr SizeUnit kSizeUnits[] = {
    {"MB", 1ULL << 20},  {"GB", 1ULL << 30},     {"TB", 1ULL << 40},
    {"MiB", 1000000ULL}, {"GiB", 1000000000ULL}, {"TiB", 1000000000000ULL},
};

// The unit of a size text ("2.861 MB"), with its whole part and thousandths; null when the text
// is not a size.
const SizeUnit* sizeTextUnit(std::string_view text, std::uint64_t& whole,
                             std::uint64_t& thousandths) {
  std::size_t point = text.find('.');
  if (point == std::string_view::npos || text.size() < point + 5 || text[point + 4] != ' ' ||
      !readWholeNumber(text.substr(0, point), whole) ||
      !readWholeNumber(text.substr(point + 1, 3), thousandths)) {
    return nullptr;
  }
  for (const SizeUnit& unit : kSizeUnits) {
    if (text.substr(point + 5) == unit.label) return &unit;
  }
  return nullptr;
}

// Takes a number of minDigits to maxDigits digits off the front of `text`; `digits` says how many.
bool takeNumber(std::string_view& text, std::size_t minDigits, std::size_t maxDigits, int& value,
                std::size_t* digits = nullptr) {
  std::size_t count = 0;
  while (count < text.size() && count < maxDigits &&
         std::isdigit(static_cast<unsigned char>(text[count]))) {
    ++count;
  }
  if (count < minDigits) return false;
  std::from_chars(text.data(), text.data() + count, value);
  text.remove_prefix(count);
  if (digits) *digits = count;
  return true;
}

bool takeLiteral(std::string_view& text, std::string_view literal) {
  if (!beginsWith(text, literal)) return false;
  text.remove_prefix(literal.size());
  return true;
}

// Takes one of `characters` off the front of `text`.
bool takeOneOf(std::string_view& text, std::string_view characters, char& taken) {
  if (text.empty() || characters.find(text[0]) == std::string_view::npos) return false;
  taken = text[0];
  text.remove_prefix(1);
  return true;
}

// A stamp text taken apart before the order of its date is known: three numbers of the date as
// they stand, and the time of day (on a 24-hour clock).
struct StampFields {
  int date[3] = {};
  std::size_t digits[3] = {};
  int hour = 0, minute = 0, second = 0;
  bool twelveHour = false;  // the time carried AM or PM
};

// A date of three numbers separated by "/", "." or "-" (the same twice; a final "." may follow),
// a blank, and a time: hours, minutes and seconds separated by ":" or ".", and perhaps " AM" or
// " PM". With the seconds required, a stamp cut short is never a stamp (but for its " PM"). So the
// short date and time formats of the C, English, French and German locales and of Windows read:
// 12/07/26 23:15:22, 12/7/2026 11:15:22 PM, 07.12.2026 23:15:22, 2026-12-07 23:15:22.
bool readStampFields(std::string_view text, StampFields& fields) {
  char separator = 0, timeSeparator = 0;
  if (!takeNumber(text, 1, 4, fields.date[0], &fields.digits[0]) ||
      !takeOneOf(text, "/.-", separator) ||
      !takeNumber(text, 1, 4, fields.date[1], &fields.digits[1]) ||
      !takeLiteral(text, std::string_view(&separator, 1)) ||
      !takeNumber(text, 1, 4, fields.date[2], &fields.digits[2])) {
    return false;
  }
  if (separator == '.') takeLiteral(text, ".");
  if (!takeLiteral(text, " ") || !takeNumber(text, 1, 2, fields.hour) ||
      !takeOneOf(text, ":.", timeSeparator) || !takeNumber(text, 2, 2, fields.minute)) {
    return false;
  }
  if (!takeLiteral(text, std::string_view(&timeSeparator, 1)) ||
      !takeNumber(text, 2, 2, fields.second)) {
    return false;
  }
  bool afternoon = text == " PM" || text == " pm";
  if (afternoon || text == " AM" || text == " am") {
    if (fields.hour < 1 || fields.hour > 12) return false;
    fields.hour = fields.hour % 12 + (afternoon ? 12 : 0);
    fields.twelveHour = true;
  } else if (!text.empty()) {
    return false;
  }
  return fields.hour <= 23 && fields.minute <= 59 && fields.second <= 59;
}

// A two-digit year as the POSIX %y convention reads it (69 to 99 are 1969 to 1999, 00 to 68 are
// 2000 to 2068), except near 01/01/01 00:00: there stands the 1601 stamp of a folder without
// files, shifted by the local offset from UTC (at most 14 hours, and some minutes of local mean
// time), so 12/31/00 from 9:00 and 01/01/01 before 15:00 are 1600 and 1601.
int fullYear(int twoDigitYear, int month, int day, int hour) {
  if (twoDigitYear == 0 && month == 12 && day == 31 && hour >= 9) return 1600;
  if (twoDigitYear == 1 && month == 1 && day == 1 && hour < 15) return 1601;
  return twoDigitYear < 69 ? 2000 + twoDigitYear : 1900 + twoDigitYear;
}

int daysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap);
}

// The stamp the fields make when the date is read in `order`; unreadable when they make no date
// so: a month above 12, a day past its month's end, or a year that is neither 2 nor 4 digits, or
// not where the order puts it.
Stamp stampInOrder(const StampFields& fields, DateOrder order) {
  int yearAt = order == DateOrder::kYearMonthDay ? 0 : 2;
  int monthAt = order == DateOrder::kMonthDayYear ? 0 : 1;
  int dayAt = order == DateOrder::kDayMonthYear ? 0 : order == DateOrder::kMonthDayYear ? 1 : 2;
  int year = fields.date[yearAt], month = fields.date[monthAt], day = fields.date[dayAt];
  std::size_t yearDigits = fields.digits[yearAt];
  if ((yearDigits != 2 && yearDigits != 4) || fields.digits[monthAt] > 2 ||
      fields.digits[dayAt] > 2 || month < 1 || month > 12 || day < 1) {
    return {};
  }
  if (yearDigits == 2) year = fullYear(year, month, day, fields.hour);
  if (day > daysInMonth(year, month)) return {};
  Stamp stamp;
  stamp.kind = year <= 1601 ? Stamp::Kind::kNoFiles : Stamp::Kind::kTime;
  stamp.year = static_cast<std::int16_t>(year);
  stamp.month = static_cast<std::int8_t>(month);
  stamp.day = static_cast<std::int8_t>(day);
  stamp.hour = static_cast<std::int8_t>(fields.hour);
  stamp.minute = static_cast<std::int8_t>(fields.minute);
  stamp.second = static_cast<std::int8_t>(fields.second);
  return stamp;
}

std::size_t orderIndex(DateOrder order) {
  return order == DateOrder::kMonthDayYear ? 0 : order == DateOrder::kDayMonthYear ? 1 : 2;
}

// What the report's stamps say about the order of their dates: for each order, the first stamp
// that cannot be read in it.
struct OrderEvidence {
  bool anyDate = false;
  bool anyTwelveHour = false;
  bool anyShortFirst = false;  // a date whose first number has fewer than 4 digits
  std::array<std::optional<std::string_view>, 3> ruledOutBy;

  void add(std::string_view stampText) {
    StampFields fields;
    if (!readStampFields(stampText, fields)) return;
    anyDate = true;
    anyTwelveHour = anyTwelveHour || fields.twelveHour;
    anyShortFirst = anyShortFirst || fields.digits[0] < 4;
    for (DateOrder order : kDateOrders) {
      auto& witness = ruledOutBy[orderIndex(order)];
      if (!witness && stampInOrder(fields, order).kind == Stamp::Kind::kUnreadable) {
        witness = stampText;
      }
    }
  }
  bool fits(DateOrder order) const { return !ruledOutBy[orderIndex(order)]; }
};

// Settles the order the report's stamps are read in, as DateOrderBasis tells; false when the
// stated order is one that a stamp contradicts.
bool settleDateOrder(const OrderEvidence& evidence, const ReadOptions& options,
                     ViewReport& report) {
  // A two-digit year first (26/10/03) is rare enough to be read only when stated: 13/10/26 would
  // otherwise never settle the order.
  bool yearFirstStated = options.statedOrder == DateOrder::kYearMonthDay;
  std::vector<DateOrder> fitting;
  for (DateOrder order : kDateOrders) {
    bool yearFirstAllowed = !evidence.anyShortFirst || yearFirstStated;
    if (evidence.fits(order) && (order != DateOrder::kYearMonthDay || yearFirstAllowed)) {
      fitting.push_back(order);
    }
  }
  if (options.statedOrder && evidence.anyDate && !evidence.fits(*options.statedOrder)) {
    report.orderWitness = *evidence.ruledOutBy[orderIndex(*options.statedOrder)];
    return false;
  }
  if (!evidence.anyDate) {
    report.dateOrderBasis = DateOrderBasis::kNoDates;
  } else if (fitting.empty()) {
    report.dateOrderBasis = DateOrderBasis::kConflict;
  } else if (fitting.size() == 1) {
    report.dateOrder = fitting[0];
    report.dateOrderBasis = DateOrderBasis::kStamps;
    // The stamp that rules out the order it is most easily taken for.
    DateOrder rival = fitting[0] == DateOrder::kMonthDayYear ? DateOrder::kDayMonthYear
                                                             : DateOrder::kMonthDayYear;
    report.orderWitness = evidence.ruledOutBy[orderIndex(rival)].value_or("");
  } else if (options.statedOrder) {
    report.dateOrder = *options.statedOrder;
    report.dateOrderBasis = DateOrderBasis::kStated;
  } else {
    // The locale's order where the stamps allow it, else the first that fits (month first).
    bool localeFits =
        std::find(fitting.begin(), fitting.end(), options.localeOrder) != fitting.end();
    report.dateOrder = localeFits ? options.localeOrder : fitting[0];
    report.dateOrderBasis = localeFits ? DateOrderBasis::kLocale : DateOrderBasis::kUsual;
  }
  return true;
}

bool readRow(std::string_view line, ReportRow& row) {
  // The columns after the path hold no tab; a path may, in a report from before names' control
  // characters were written as "?".
  std::string_view columns[4];
  for (int column = 3; column >= 0; --column) {
    std::size_t tab = line.rfind('\t');
    if (tab == std::string_view::npos) return false;
    columns[column] = line.substr(tab + 1);
    line = line.substr(0, tab);
  }
  if (!parseSizeText(columns[0], row.totalBytes) || !parseSizeText(columns[1], row.bytesOnDisk) ||
      !readWholeNumber(columns[2], row.fileCount)) {
    return false;
  }
  row.path = line;
  row.totalText = columns[0];
  row.diskText = columns[1];
  row.stampText = columns[3];
  return true;
}

// "Error accessing folder: ", the path, ": " and "(code): message", or ": " alone when the system
// had no message. A path may hold ": (", a message never holds ": (code): ", so the last one
// found ends the path.
FolderError readError(std::string_view line, std::size_t rowsBefore) {
  std::string_view rest = line.substr(kErrorStart.size());
  for (std::size_t at = rest.rfind(": ("); at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : rest.rfind(": (", at - 1)) {
    std::string_view code = rest.substr(at + 3);
    if (!code.empty() && code[0] == '-') code.remove_prefix(1);
    int ignored;
    if (takeNumber(code, 1, 10, ignored) && beginsWith(code, "): ")) {
      return {std::string(rest.substr(0, at)), std::string(rest.substr(at + 2)), rowsBefore};
    }
  }
  if (rest.size() >= 2 && rest.substr(rest.size() - 2) == ": ") rest.remove_suffix(2);
  return {std::string(rest), {}, rowsBefore};
}

// Windows display paths begin with a drive or with two backslashes, or at least use backslashes
// and no slashes (a relative folder, or a device path such as unix\tmp).
bool isWindowsPath(std::string_view path) {
  bool drive =
      path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
  bool backslashesOnly =
      path.find('\\') != std::string_view::npos && path.find('/') == std::string_view::npos;
  return drive || backslashesOnly;
}

// The path that tells which platform wrote the report: its folder, or failing that its first.
std::string_view platformPath(const ViewReport& report) {
  if (!report.folder.empty()) return report.folder;
  if (!report.rows.empty()) return report.rows[0].path;
  if (!report.errors.empty()) return report.errors[0].path;
  return {};
}

// Every complete report ends with the row of its folder: a folder's size on disk is never below
// a subfolder's, so it reaches the threshold whenever anything does, and otherwise gets the one
// row that keeps a report from being empty.
bool endsWithFolderRow(const ViewReport& report) {
  if (report.rows.empty()) return false;
  if (!report.errors.empty() && report.errors.back().rowsBefore == report.rows.size()) {
    return false;
  }
  if (report.folder.empty()) return true;  // no settings line to tell by
  std::string_view last = report.rows.back().path;
  return last == report.folder || last == shownFolder(report);
}

std::int64_t daysFromCivil(int year, int month, int day) {
  // Days since 1970-01-01 in the proleptic Gregorian calendar, counted in 400-year eras.
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The report's text: what follows a byte order mark, made UTF-8 if it was UTF-16. `marked` tells
// whether there was a mark, which settles the encoding.
std::string reportText(std::string bytes, bool& marked) {
  marked = true;
  std::string_view view = bytes;
  if (beginsWith(view, "\xFF\xFE")) return utf8FromUtf16(view.substr(2), false);
  if (beginsWith(view, "\xFE\xFF")) return utf8FromUtf16(view.substr(2), true);
  if (beginsWith(view, "\xEF\xBB\xBF")) return bytes.erase(0, 3);
  marked = false;
  return bytes;
}

}  // namespace

bool parseSizeText(std::string_view text, std::uint64_t& bytes) {
  std::uint64_t whole, thousandths;
  const SizeUnit* unit = sizeTextUnit(text, whole, thousandths);
  if (!unit) return false;
  std::uint64_t fraction = (thousandths * unit->bytes + 500) / 1000;
  bool fits = whole <= (kMostBytes - fraction) / unit->bytes;
  bytes = fits ? whole * unit->bytes + fraction : kMostBytes;
  return true;
}

bool readSizeText(std::string_view text, SizeText& size) {
  std::uint64_t whole, thousandths;
  const SizeUnit* unit = sizeTextUnit(text, whole, thousandths);
  if (!unit || whole > kMostBytes / 1000 - 1) return false;
  size = {whole * 1000 + thousandths, unit->bytes};
  return true;
}

Stamp parseStamp(std::string_view text, DateOrder order) {
  StampFields fields;
  return readStampFields(text, fields) ? stampInOrder(fields, order) : Stamp();
}

std::string isoStampText(const Stamp& stamp) {
  if (stamp.kind == Stamp::Kind::kUnreadable) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", stamp.year, stamp.month,
                stamp.day, stamp.hour, stamp.minute, stamp.second);
  return text;
}

std::int64_t stampSeconds(const Stamp& stamp) {
  return daysFromCivil(stamp.year, stamp.month, stamp.day) * 86400 + stamp.hour * 3600 +
         stamp.minute * 60 + stamp.second;
}

ReadOutcome readReport(std::string bytes, const ReadOptions& options, ViewReport& report) {
  bool marked = false;
  report.text = std::make_unique<const std::string>(reportText(std::move(bytes), marked));
  std::string_view text = *report.text;
  // The lines before the header are the banner and the settings.
  std::size_t start = 0;
  OrderEvidence evidence;
  for (;;) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) return ReadOutcome::kNoHeader;
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;
    if (line == kHeader) break;
    if (beginsWith(line, kFolderStart)) {
      report.folder = line.substr(kFolderStart.size());
    } else if (!line.empty() && !beginsWith(line, kBannerStart)) {
      report.settingsLines.emplace_back(line);
      if (beginsWith(line, kCutoffStart)) evidence.add(line.substr(kCutoffStart.size()));
    }
  }
  reserveInLargePages(report.rows,
                      static_cast<std::size_t>(std::count(text.begin() + start, text.end(), '\n')));
  bool afterError = false;
  bool lastLineUnended = false;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    bool ended = end != std::string_view::npos;
    std::string_view line = text.substr(start, ended ? end - start : std::string_view::npos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = ended ? end + 1 : text.size();
    ReportRow row;
    if (!ended) {
      // A last line without its line end is a row when it is a whole one, its stamp whole or
      // empty; anything else was cut off in the middle of being written.
      StampFields fields;
      lastLineUnended =
          readRow(line, row) && (row.stampText.empty() || readStampFields(row.stampText, fields));
      if (lastLineUnended) report.rows.push_back(row);
      break;
    }
    if (beginsWith(line, kErrorStart)) {
      report.errors.push_back(readError(line, report.rows.size()));
      afterError = true;
    } else if (readRow(line, row)) {
      report.rows.push_back(row);
      afterError = false;
    } else if (afterError && !line.empty()) {
      // A system message of several lines goes on after its error line.
      std::string& message = report.errors.back().text;
      message += message.empty() ? "" : " ";
      message += line;
    } else if (!line.empty()) {
      ++report.skippedLines;
    }
  }
  if (isWindowsPath(platformPath(report))) {
    report.separator = '\\';
    // Treemeter.exe writes a character a byte; a report that is UTF-8 throughout, with characters
    // beyond ASCII, was saved so by a shell (PowerShell 7 writes UTF-8).
    bool savedAsUtf8 = marked || (isWellFormedUtf8(text) && !isAscii(text));
    report.encoding = savedAsUtf8 ? TextEncoding::kUtf8 : TextEncoding::kLatin1;
  }
  report.truncated = !endsWithFolderRow(report);

  for (const ReportRow& row : report.rows) evidence.add(row.stampText);
  if (!settleDateOrder(evidence, options, report)) return ReadOutcome::kOrderContradicted;
  if (report.dateOrderBasis != DateOrderBasis::kConflict) {
    for (ReportRow& row : report.rows) row.stamp = parseStamp(row.stampText, report.dateOrder);
  }
  // A last line cut just before its " PM" would read as a morning.
  StampFields fields;
  if (lastLineUnended && evidence.anyTwelveHour &&
      readStampFields(report.rows.back().stampText, fields) && !fields.twelveHour) {
    report.rows.back().stamp = Stamp();
  }
  return ReadOutcome::kRead;
}

std::vector<std::ptrdiff_t> parentRows(const ViewReport& report) {
  std::vector<std::ptrdiff_t> parents(report.rows.size(), -1);
  // Rows whose parent has not come yet. A folder's rows come right before its own, so those
  // waiting at the top of the stack below it are its children.
  std::vector<std::size_t> waiting;
  for (std::size_t row = 0; row < report.rows.size(); ++row) {
    while (!waiting.empty() &&
           isBelow(report.rows[waiting.back()].path, report.rows[row].path, report.separator)) {
      parents[waiting.back()] = static_cast<std::ptrdiff_t>(row);
      waiting.pop_back();
    }
    waiting.push_back(row);
  }
  return parents;
}

bool isBelow(std::string_view path, std::string_view folder, char separator) {
  if (folder.empty() || path.size() <= folder.size() || !beginsWith(path, folder)) return false;
  return folder.back() == separator || path[folder.size()] == separator;
}

std::string shownFolder(const ViewReport& report) {
  const PathStyle& style = report.separator == '\\' ? kWindowsPathStyle : kPosixPathStyle;
  std::u16string typed;  // one unit a byte, and back: the path forms change ASCII only
  for (unsigned char byte : report.folder) typed += byte;
  std::string shown;
  for (char16_t unit : toDisplayPath(toExtendedPath(typed.c_str(), style).c_str(), style)) {
    shown += static_cast<char>(unit);
  }
  return shown;
}
