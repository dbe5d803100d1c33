// A Treemeter report read back into records, as either platform writes it: the banner and the
// settings lines, the header, then rows and error lines, each line ending in CR LF (or LF alone).
// The report's text is kept whole (`text`), and rows point into it; how to decode its bytes is
// decided once per report (`encoding`), and so is the order of day and month in its stamps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/date_order.h"

// How the report's bytes stand for characters: a Windows report writes each character up to
// U+00FF as one byte (and "?" beyond), a POSIX report writes names' bytes as they are, and a
// report that a shell saved as UTF-16 is made UTF-8 on reading.
enum class TextEncoding { kUtf8, kLatin1 };

// A latest file stamp, read from the local date and time text the report holds.
struct Stamp {
  enum class Kind : std::uint8_t {
    kTime,       // a date and time
    kNoFiles,    // the stamp 1601-01-01 00:00 UTC of a folder without files, in local time
    kUnreadable  // empty, in a format not understood, or not a date in the report's order
  };
  Kind kind = Kind::kUnreadable;
  std::int16_t year = 0;
  std::int8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct ReportRow {
  std::string_view path;
  std::string_view totalText, diskText, stampText;  // the columns as the report has them
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

// How the order of day and month in the report's stamps was settled.
enum class DateOrderBasis {
  kStamps,    // a stamp fits one order only (`orderWitness`)
  kStated,    // every stamp fits several orders; --date-order chose among them
  kLocale,    // every stamp fits several orders; the viewer's locale chose among them
  kUsual,     // every stamp fits several orders, not the locale's: month first, as C and Windows
  kNoDates,   // no stamp holds a date: nothing to settle
  kConflict,  // no one order fits every stamp, so none is read
};

struct ViewReport {
  std::unique_ptr<const std::string> text;  // the report as read, made UTF-8 if it was UTF-16
  std::string folder;                       // as typed, from "Generating stats for: "
  std::vector<std::string> settingsLines;   // the threshold and the time filter, as written
  TextEncoding encoding = TextEncoding::kUtf8;
  char separator = '/';
  std::vector<ReportRow> rows;
  std::vector<FolderError> errors;
  // The report stops before the row of its folder, as an interrupted scan leaves it.
  bool truncated = false;
  std::size_t skippedLines = 0;  // after the header, neither a row nor an error line
  DateOrder dateOrder = DateOrder::kMonthDayYear;
  DateOrderBasis dateOrderBasis = DateOrderBasis::kNoDates;
  std::string orderWitness;  // the stamp that settled the order, or that contradicts the stated one
};

struct ReadOptions {
  std::optional<DateOrder> statedOrder;  // --date-order
  DateOrder localeOrder = DateOrder::kMonthDayYear;
};

enum class ReadOutcome {
  kRead,
  kNoHeader,           // not a report
  kOrderContradicted,  // a stamp cannot be read in the stated order (`orderWitness`)
};

// The report held in `bytes`: raw, UTF-8 with a byte order mark, or UTF-16 (either byte order)
// with one. The report keeps them as its text.
ReadOutcome readReport(std::string bytes, const ReadOptions& options, ViewReport& report);

// A size text of either family ("2.861 MB", "3.002 MiB") in bytes, to the precision of its three
// decimals; false when the text is not a size. Sizes beyond 2^64 - 1 bytes stay at that value.
bool parseSizeText(std::string_view text, std::uint64_t& bytes);

// A size text as it stands: its number in thousandths of its unit, and the unit in bytes. The
// bytes it stands for lie within half a thousandth of the unit of thousandths x unit / 1000.
struct SizeText {
  std::uint64_t thousandths = 0;
  std::uint64_t unitBytes = 0;
};
bool readSizeText(std::string_view text, SizeText& size);

// The stamp a report's latest file stamp column holds, read in the given order of day and month.
Stamp parseStamp(std::string_view text, DateOrder order = DateOrder::kMonthDayYear);

// The stamp as "YYYY-MM-DDThh:mm:ss"; empty for an unreadable one.
std::string isoStampText(const Stamp& stamp);

// Seconds from 1970-01-01 00:00 to the stamp's local date and time, both read in one time zone:
// for ordering stamps and telling their ages apart.
std::int64_t stampSeconds(const Stamp& stamp);

// For each row, the index of the nearest row above it in the folder tree, or -1 for none. Rows
// come depth first, each folder after its subfolders, which is what makes one pass enough.
std::vector<std::ptrdiff_t> parentRows(const ViewReport& report);

// True when `path` lies below `folder`, whole names only, in a report with this separator.
bool isBelow(std::string_view path, std::string_view folder, char separator);

// The folder argument as the scan shows its row: quotes removed and, on Windows, doubled
// backslashes collapsed.
std::string shownFolder(const ViewReport& report);
