#include "view/report_reader.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <limits>

#include "paths/paths.h"

namespace {

constexpr std::string_view kHeader =
    "path\ttotal size\tsize on disk\tfile count\tlatest file stamp";
constexpr std::string_view kBannerStart = "Treemeter v";
constexpr std::string_view kFolderStart = "Generating stats for: ";
constexpr std::string_view kErrorStart = "Error accessing folder: ";
constexpr std::uint64_t kMostBytes = std::numeric_limits<std::uint64_t>::max();

bool beginsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// The lines of `bytes` without their line ends (CR LF or LF). A last line without a line end was
// cut off in the middle of being written, so it is left out and `lastLineCut` says so.
std::vector<std::string_view> splitLines(std::string_view bytes, bool& lastLineCut) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find('\n', start)) != std::string_view::npos;
       start = end + 1) {
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
  }
  lastLineCut = start < bytes.size();
  return lines;
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

// Takes a number of minDigits to maxDigits digits off the front of `text`.
bool takeNumber(std::string_view& text, std::size_t minDigits, std::size_t maxDigits, int& value) {
  std::size_t count = 0;
  while (count < text.size() && count < maxDigits &&
         std::isdigit(static_cast<unsigned char>(text[count]))) {
    ++count;
  }
  if (count < minDigits) return false;
  std::from_chars(text.data(), text.data() + count, value);
  text.remove_prefix(count);
  return true;
}

bool takeLiteral(std::string_view& text, std::string_view literal) {
  if (!beginsWith(text, literal)) return false;
  text.remove_prefix(literal.size());
  return true;
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
  row.stamp = parseStamp(columns[3]);
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

// The folder argument as the scan shows its row: quotes removed and, on Windows, doubled
// backslashes collapsed.
std::string shownFolder(const std::string& folder, char separator) {
  const PathStyle& style = separator == '\\' ? kWindowsPathStyle : kPosixPathStyle;
  std::u16string typed;  // one unit a byte, and back: the path forms change ASCII only
  for (unsigned char byte : folder) typed += byte;
  std::string shown;
  for (char16_t unit : toDisplayPath(toExtendedPath(typed.c_str(), style).c_str(), style)) {
    shown += static_cast<char>(unit);
  }
  return shown;
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
  const std::string& last = report.rows.back().path;
  return last == report.folder || last == shownFolder(report.folder, report.separator);
}

bool isBelow(std::string_view path, std::string_view folder, char separator) {
  if (folder.empty() || path.size() <= folder.size() || !beginsWith(path, folder)) return false;
  return folder.back() == separator || path[folder.size()] == separator;
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

}  // namespace

bool parseSizeText(std::string_view text, std::uint64_t& bytes) {
  std::size_t point = text.find('.');
  std::size_t blank = text.find(' ');
  if (point == std::string_view::npos || blank != point + 4) return false;
  std::uint64_t whole, thousandths;
  if (!readWholeNumber(text.substr(0, point), whole) ||
      !readWholeNumber(text.substr(point + 1, 3), thousandths)) {
    return false;
  }
  for (const SizeUnit& unit : kSizeUnits) {
    if (text.substr(blank + 1) != unit.label) continue;
    std::uint64_t fraction = (thousandths * unit.bytes + 500) / 1000;
    bool fits = whole <= (kMostBytes - fraction) / unit.bytes;
    bytes = fits ? whole * unit.bytes + fraction : kMostBytes;
    return true;
  }
  return false;
}

// The date as the C locale's %x writes it (12/07/26) or Windows' default short date (12/7/2026),
// a blank, and the time as %X writes it (23:15:22) or with AM and PM (11:15:22 PM), as Windows
// and the en_US locales write it.
Stamp parseStamp(std::string_view text) {
  Stamp stamp;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::string_view rest = text;
  if (!takeNumber(rest, 1, 2, month) || !takeLiteral(rest, "/") || !takeNumber(rest, 1, 2, day) ||
      !takeLiteral(rest, "/")) {
    return stamp;
  }
  std::size_t yearDigits = rest.size();
  if (!takeNumber(rest, 2, 4, year)) return stamp;
  yearDigits -= rest.size();
  if (yearDigits == 3 || !takeLiteral(rest, " ") || !takeNumber(rest, 1, 2, hour) ||
      !takeLiteral(rest, ":") || !takeNumber(rest, 2, 2, minute) || !takeLiteral(rest, ":") ||
      !takeNumber(rest, 2, 2, second)) {
    return stamp;
  }
  if (rest == " AM" || rest == " PM") {
    if (hour < 1 || hour > 12) return stamp;
    hour = hour % 12 + (rest == " PM" ? 12 : 0);
  } else if (!rest.empty()) {
    return stamp;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
    return stamp;
  }
  if (yearDigits == 2) year = fullYear(year, month, day, hour);
  stamp = {year <= 1601 ? Stamp::Kind::kNoFiles : Stamp::Kind::kTime,
           year,
           month,
           day,
           hour,
           minute,
           second};
  return stamp;
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

bool readReport(std::string_view bytes, ViewReport& report) {
  bool lastLineCut = false;
  std::vector<std::string_view> lines = splitLines(bytes, lastLineCut);
  std::size_t header = 0;
  while (header < lines.size() && lines[header] != kHeader) ++header;
  if (header == lines.size()) return false;
  for (std::size_t i = 0; i < header; ++i) {
    if (beginsWith(lines[i], kFolderStart)) {
      report.folder = lines[i].substr(kFolderStart.size());
    } else if (!lines[i].empty() && !beginsWith(lines[i], kBannerStart)) {
      report.settingsLines.emplace_back(lines[i]);
    }
  }
  report.rows.reserve(lines.size() - header);
  bool afterError = false;
  for (std::size_t i = header + 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    ReportRow row;
    if (beginsWith(line, kErrorStart)) {
      report.errors.push_back(readError(line, report.rows.size()));
      afterError = true;
    } else if (readRow(line, row)) {
      report.rows.push_back(std::move(row));
      afterError = false;
    } else if (afterError && !line.empty()) {
      // A system message of several lines goes on after its error line.
      std::string& text = report.errors.back().text;
      text += text.empty() ? "" : " ";
      text += line;
    } else if (!line.empty()) {
      ++report.skippedLines;
    }
  }
  if (isWindowsPath(platformPath(report))) {
    report.separator = '\\';
    report.encoding = TextEncoding::kLatin1;
  }
  report.truncated = lastLineCut || !endsWithFolderRow(report);
  return true;
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
