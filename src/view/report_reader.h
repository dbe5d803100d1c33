// A Treemeter report read back into records, as either platform writes it: the banner and the
// settings lines, the header, then rows and error lines, each line ending in CR LF (or LF alone).
// Texts stay the report's own bytes; how to decode them is decided once per report (encoding).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// How the report's bytes stand for characters: a Windows report writes each character up to
// U+00FF as one byte (and "?" beyond), a POSIX report writes names' bytes as they are.
enum class TextEncoding { kUtf8, kLatin1 };

// A latest file stamp, read from the local date and time text the report holds.
struct Stamp {
  enum class Kind {
    kTime,       // a date and time in one of the formats below
    kNoFiles,    // the stamp 1601-01-01 00:00 UTC of a folder without files, in local time
    kUnreadable  // empty, or in a format not understood
  };
  Kind kind = Kind::kUnreadable;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct ReportRow {
  std::string path;
  std::string totalText, diskText, stampText;  // the columns as the report has them
  std::uint64_t totalBytes = 0;
  std::uint64_t bytesOnDisk = 0;
  std::uint64_t fileCount = 0;
  Stamp stamp;
};

struct FolderError {
  std::string path;
  std::string text;  // "(code): message", without line ends; empty when the system gave none
  std::size_t rowsBefore = 0;  // its place among the rows
};

struct ViewReport {
  std::string folder;                      // as typed, from "Generating stats for: "
  std::vector<std::string> settingsLines;  // the threshold and the time filter, as written
  TextEncoding encoding = TextEncoding::kUtf8;
  char separator = '/';
  std::vector<ReportRow> rows;
  std::vector<FolderError> errors;
  // The report stops before the row of its folder, as an interrupted scan leaves it.
  bool truncated = false;
  std::size_t skippedLines = 0;  // after the header, neither a row nor an error line
};

// The report held in `bytes`; false when they are not a report (no header line).
bool readReport(std::string_view bytes, ViewReport& report);

// A size text of either family ("2.861 MB", "3.002 MiB") in bytes, to the precision of its three
// decimals; false when the text is not a size. Sizes beyond 2^64 - 1 bytes stay at that value.
bool parseSizeText(std::string_view text, std::uint64_t& bytes);

// The stamp a report's latest file stamp column holds.
Stamp parseStamp(std::string_view text);

// The stamp as "YYYY-MM-DDThh:mm:ss"; empty for an unreadable one.
std::string isoStampText(const Stamp& stamp);

// Seconds from 1970-01-01 00:00 to the stamp's local date and time, both read in one time zone:
// for ordering stamps and telling their ages apart.
std::int64_t stampSeconds(const Stamp& stamp);

// For each row, the index of the nearest row above it in the folder tree, or -1 for none. Rows
// come depth first, each folder after its subfolders, which is what makes one pass enough.
std::vector<std::ptrdiff_t> parentRows(const ViewReport& report);
