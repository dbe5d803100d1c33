#include "support/report_check.h"

#include <initializer_list>

#include "support/program.h"

namespace {

const char kHeader[] = "path\ttotal size\tsize on disk\tfile count\tlatest file stamp";
const char kErrorStart[] = "Error accessing folder: ";
const char kThresholdStart[] = "Report includes folders equal or greater than ";

bool isDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Digits, a point, three digits, a blank and one of the units.
bool isSizeText(const std::string& text, std::initializer_list<const char*> units) {
  std::size_t point = text.find('.');
  std::size_t blank = text.find(' ');
  if (point == std::string::npos || blank != point + 4) return false;
  bool unitKnown = false;
  for (const char* unit : units) unitKnown = unitKnown || text.substr(blank + 1) == unit;
  return unitKnown && isDigits(text.substr(0, point)) && isDigits(text.substr(point + 1, 3));
}

// The C locale's "%x %X": 12/31/99 23:59:59.
bool isStampText(const std::string& text) {
  const std::string shape = "00/00/00 00:00:00";
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == '0' ? !digit : text[i] != shape[i]) return false;
  }
  return true;
}

// "(code): message", the code a signed decimal number, the message on one line.
bool isErrorReason(const std::string& text) {
  std::size_t close = text.find("): ");
  if (text.empty() || text[0] != '(' || close == std::string::npos) return false;
  std::string code = text.substr(1, close - 1);
  if (!code.empty() && code[0] == '-') code.erase(0, 1);
  std::string message = text.substr(close + 3);
  return isDigits(code) && !message.empty() && message.find_first_of("\r\n") == std::string::npos;
}

std::vector<std::string> splitOnTabs(const std::string& line) {
  std::vector<std::string> columns(1);
  for (char c : line) {
    if (c == '\t') {
      columns.emplace_back();
    } else {
      columns.back() += c;
    }
  }
  return columns;
}

bool beginsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::vector<std::string> splitReportLines(const std::string& out, bool& complete) {
  std::vector<std::string> lines;
  complete = true;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find("\r\n", start);
    if (end == std::string::npos) {
      complete = false;
      lines.push_back(out.substr(start));
      break;
    }
    lines.push_back(out.substr(start, end - start));
    if (lines.back().find('\n') != std::string::npos) complete = false;
    start = end + 2;
  }
  return lines;
}

bool isReportRow(const std::string& line) {
  std::vector<std::string> columns = splitOnTabs(line);
  return columns.size() == 5 && isSizeText(columns[1], {"MB", "GB", "TB"}) &&
         isSizeText(columns[2], {"MiB", "GiB", "TiB"}) && isDigits(columns[3]) &&
         (columns[4].empty() || isStampText(columns[4]));
}

bool isErrorLine(const std::string& line) {
  if (!beginsWith(line, kErrorStart) || line.find('\r') != std::string::npos) return false;
  if (endsWith(line, ": ")) return true;  // no message for the code
  std::size_t reason = line.rfind(": (");
  return reason != std::string::npos && reason >= sizeof kErrorStart - 1 &&
         isErrorReason(line.substr(reason + 2));
}

testing::AssertionResult isWellFormedReport(const std::string& out) {
  bool complete = false;
  std::vector<std::string> lines = splitReportLines(out, complete);
  if (!complete) return testing::AssertionFailure() << "a line does not end in CR LF";
  std::string banner = bannerLine();
  if (lines.size() < 5 || lines[0] + "\r\n" != banner) {
    return testing::AssertionFailure() << "no banner: " << out.substr(0, 200);
  }
  // The day filter line is left out when the cut-off's date cannot be formed.
  std::size_t header = lines[3] == kHeader ? 3 : 4;
  bool filterLine = header == 3 || lines[3] == "No time filter specified" ||
                    beginsWith(lines[3], "Treemeter counts files written on or after: ");
  if (lines[header] != kHeader || !filterLine || !beginsWith(lines[1], "Generating stats for: ") ||
      !beginsWith(lines[2], kThresholdStart) ||
      !isSizeText(lines[2].substr(sizeof kThresholdStart - 1), {"MB", "GB", "TB"})) {
    return testing::AssertionFailure()
           << "settings lines and header malformed: " << out.substr(0, 400);
  }
  std::size_t rows = 0;
  for (std::size_t i = header + 1; i < lines.size(); ++i) {
    if (isReportRow(lines[i])) {
      ++rows;
    } else if (!isErrorLine(lines[i])) {
      return testing::AssertionFailure() << "line " << i << " is malformed: " << lines[i];
    }
  }
  if (rows == 0) return testing::AssertionFailure() << "no row";
  return testing::AssertionSuccess();
}

testing::AssertionResult isUsageReport(const std::string& out) {
  if (!beginsWith(out, bannerLine() + "\r\n\r\nThis program counts total bytes") ||
      out.find("\r\nUsage: Treemeter.exe [process reparse points") == std::string::npos ||
      out.find(kHeader) != std::string::npos || !endsWith(out, "\r\n")) {
    return testing::AssertionFailure() << "not the usage text: " << out.substr(0, 300);
  }
  return testing::AssertionSuccess();
}
