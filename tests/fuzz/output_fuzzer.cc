// The output encoding, read back from standard output itself: any text is written one byte a unit
// with "?" for units above U+00FF; a report row of any path and numbers is the path and four
// well-formed columns ending in CR LF; an error line of any path and code is its five pieces. In
// both, the path's control characters are written as "?": no path adds a line or a column, nor
// sends a terminal a C1 control.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

#include "fuzz_support.h"
#include "paths/paths.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "report/format.h"
#include "report/output.h"
#include "report/rows.h"

namespace {

// Everything written to standard output through `output` since the last call.
std::string takeWrittenBytes(ReportOutput& output) {
  flushOutput(output);
  std::string bytes;
  char buffer[65536];
  lseek(STDOUT_FILENO, 0, SEEK_SET);
  for (ssize_t got; (got = read(STDOUT_FILENO, buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  require(ftruncate(STDOUT_FILENO, 0) == 0, "standard output can be emptied");
  lseek(STDOUT_FILENO, 0, SEEK_SET);
  return bytes;
}

// The bytes of a path in a row or an error line: each control character one "?", those below 0x20,
// 0x7F, and the UTF-8 forms of U+0080 to U+009F (C2 80 to C2 9F), as POSIX names are bytes.
std::string expectedPathBytes(const std::u16string& path) {
  std::string bytes = expectedOutputBytes(path);
  std::string shown;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    auto byte = static_cast<unsigned char>(bytes[i]);
    auto next = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      shown += '?';
      ++i;
    } else {
      shown += byte < 0x20 || byte == 0x7F ? '?' : static_cast<char>(byte);
    }
  }
  return shown;
}

void checkText(ReportOutput& output, const std::u16string& text) {
  writeText(output, text);
  require(takeWrittenBytes(output) == expectedOutputBytes(text), "text is written one byte a unit",
          text);
}

void checkRow(ReportWriter& writer, const std::u16string& path, std::uint64_t totalBytes,
              std::uint64_t bytesOnDisk, std::uint64_t entryCount, FileTime stamp) {
  printReportRow(writer, path, totalBytes, bytesOnDisk, entryCount, stamp);
  require(writer.rowPrinted, "a printed row is noted", path);
  std::string row = takeWrittenBytes(writer.output);
  std::string pathBytes = expectedPathBytes(path);
  require(row.compare(0, pathBytes.size(), pathBytes) == 0, "the row begins with its path", path);
  static const std::regex columns(
      "\t[0-9]+\\.[0-9]{3} (MB|GB|TB)\t[0-9]+\\.[0-9]{3} (MiB|GiB|TiB)\t([0-9]+)\t"
      "([0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2})?\r\n");
  std::smatch parts;
  std::string rest = row.substr(pathBytes.size());
  require(std::regex_match(rest, parts, columns), "four well-formed columns after the path", path);
  require(parts[3] == std::to_string(entryCount), "the entry count in full", path);
}

void checkErrorLine(ReportWriter& writer, const std::u16string& path, std::uint32_t code) {
  printFolderError(writer, path, code);
  std::string line = takeWrittenBytes(writer.output);
  std::string message = expectedOutputBytes(systemMessageText(code));
  std::string reason =
      message.empty() ? ""
                      : "(" + std::to_string(static_cast<std::int32_t>(code)) + "): " + message;
  std::string expected =
      "Error accessing folder: " + expectedPathBytes(toDisplayPath(path.c_str())) + ": " + reason +
      "\r\n";
  require(line == expected, "the error line is its five pieces", path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC", 1);
  setenv("LC_ALL", "C", 1);
  // Standard output becomes a file in memory that each check reads back.
  int memory = memfd_create("standard-output", 0);
  if (memory < 0 || dup2(memory, STDOUT_FILENO) < 0) std::abort();
  close(memory);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input = {data, size};
  std::uint64_t totalBytes = takeNumber(input);
  std::uint64_t bytesOnDisk = takeNumber(input);
  std::uint64_t entryCount = takeNumber(input);
  std::uint64_t stamp = takeNumber(input);
  std::u16string text = takeUnits(input);
  ReportOutput output;
  ReportWriter writer(output);
  checkText(output, text);
  // A path is a NUL-terminated text wherever the tool hands one on.
  std::u16string path = text.substr(0, text.find(u'\0'));
  checkRow(writer, path, totalBytes, bytesOnDisk, entryCount, stamp);
  checkErrorLine(writer, path, static_cast<std::uint32_t>(stamp));
  return 0;
}
