// Reports of both platforms read back into records, and the report's bytes made into UTF-8.
#include "view/report_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "report/format.h"
#include "view/encode.h"

namespace {

const std::string kHead =
    "Treemeter v2.0 -- (c) 2026 the Treemeter developers. Reads folder listings only; changes "
    "nothing.\r\n";
const std::string kHeader = "path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n";

std::string posixReport(const std::string& rowsAndErrors) {
  return kHead + "Generating stats for: /srv/\r\nReport includes folders equal or greater than " +
         "0.000 MB\r\nNo time filter specified\r\n" + kHeader + rowsAndErrors;
}

std::string narrow(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

bool read(std::string_view text, ViewReport& report, const ReadOptions& options = ReadOptions()) {
  return readReport(std::string(text), options, report) == ReadOutcome::kRead;
}

TEST(ReportReader, ReadsBothPlatformsRowsErrorsUnitsAndStamps) {
  // POSIX, with LF line ends alone: every unit, a tab inside a name, an error whose path holds
  // ": (", and the folder row in the form the scan gives it.
  std::string posix =
      "Treemeter v2.0 -- (c) 2026\nGenerating stats for: \"/srv/\"\nReport includes folders equal"
      " or greater than 1.000 MB\nNo time filter specified\n"
      "path\ttotal size\tsize on disk\tfile count\tlatest file stamp\n"
      "/srv/a\tb\t2.861 MB\t3.002 MiB\t7\t12/07/26 23:15:22\n"
      "Error accessing folder: /srv/x: (2): y: (13): Permission denied\n"
      "/srv/big\t5.000 TB\t1.500 TiB\t18446744073709551615\t01/01/01 00:00:00\n"
      "/srv/\t1.250 GB\t2.000 GiB\t9\t\n";
  ViewReport report;
  ASSERT_TRUE(read(posix, report));
  EXPECT_EQ(report.folder, "\"/srv/\"");
  EXPECT_EQ(report.settingsLines,
            (std::vector<std::string>{"Report includes folders equal or greater than 1.000 MB",
                                      "No time filter specified"}));
  EXPECT_EQ(report.separator, '/');
  EXPECT_EQ(report.encoding, TextEncoding::kUtf8);
  EXPECT_FALSE(report.truncated);
  ASSERT_EQ(report.rows.size(), 3u);
  EXPECT_EQ(report.rows[0].path, "/srv/a\tb");
  EXPECT_EQ(report.rows[0].totalBytes, 2999976u);  // 2.861 x 2^20, rounded
  EXPECT_EQ(report.rows[0].bytesOnDisk, 3002000u);
  EXPECT_EQ(report.rows[0].fileCount, 7u);
  EXPECT_EQ(isoStampText(report.rows[0].stamp), "2026-12-07T23:15:22");
  EXPECT_EQ(report.rows[1].totalBytes, 5ULL << 40);
  EXPECT_EQ(report.rows[1].bytesOnDisk, 1500000000000u);
  EXPECT_EQ(report.rows[1].fileCount, std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(report.rows[1].stamp.kind, Stamp::Kind::kNoFiles);
  EXPECT_EQ(report.rows[2].totalBytes, 1342177280u);
  EXPECT_EQ(report.rows[2].bytesOnDisk, 2000000000u);
  EXPECT_EQ(report.rows[2].stamp.kind, Stamp::Kind::kUnreadable);
  ASSERT_EQ(report.errors.size(), 1u);
  EXPECT_EQ(report.errors[0].path, "/srv/x: (2): y");
  EXPECT_EQ(report.errors[0].text, "(13): Permission denied");
  EXPECT_EQ(report.errors[0].rowsBefore, 1u);

  // Windows, as Treemeter.exe writes it under wine: a message with its own line end leaves an
  // empty line, a message may be missing, a byte above 0x7F is Latin-1, and a folder typed with
  // doubled backslashes gets its row in the collapsed form.
  std::string windows =
      kHead + "Generating stats for: \\\\srv\\\\share\r\nNo time filter specified\r\n" + kHeader +
      "Error accessing folder: \\\\srv\\share\\l\xE9: (5): Access denied.\r\n"
      "\r\n"
      "Error accessing folder: \\\\srv\\share\\gone: \r\n"
      "\\\\srv\\share\\d\t0.500 MB\t0.525 MiB\t3\t12/7/2026 11:21:41 PM\r\n"
      "\\\\srv\\share\t0.500 MB\t0.525 MiB\t9\t1/1/1601 12:00:00 AM\r\n";
  ViewReport windowsReport;
  ASSERT_TRUE(read(windows, windowsReport));
  EXPECT_EQ(windowsReport.separator, '\\');
  EXPECT_EQ(windowsReport.encoding, TextEncoding::kLatin1);
  EXPECT_FALSE(windowsReport.truncated);
  EXPECT_EQ(windowsReport.skippedLines, 0u);
  ASSERT_EQ(windowsReport.rows.size(), 2u);
  EXPECT_EQ(windowsReport.rows[0].totalBytes, 524288u);
  EXPECT_EQ(isoStampText(windowsReport.rows[0].stamp), "2026-12-07T23:21:41");
  EXPECT_EQ(windowsReport.rows[1].stamp.kind, Stamp::Kind::kNoFiles);
  ASSERT_EQ(windowsReport.errors.size(), 2u);
  EXPECT_EQ(utf8Text(windowsReport.errors[0].path, windowsReport.encoding),
            "\\\\srv\\share\\l\xC3\xA9");
  EXPECT_EQ(windowsReport.errors[0].text, "(5): Access denied.");
  EXPECT_EQ(windowsReport.errors[1].path, "\\\\srv\\share\\gone");
  EXPECT_EQ(windowsReport.errors[1].text, "");
}

TEST(ReportReader, TellsReportsThatEndEarlyAndInputThatIsNoReport) {
  const std::string folderRow = "/srv/\t1.000 MB\t1.049 MiB\t5\t12/07/26 23:15:22\r\n";
  const std::string subfolderRow = "/srv/a\t1.000 MB\t1.049 MiB\t3\t12/07/26 23:15:22\r\n";
  struct Case {
    std::string text;
    bool truncated;
    std::size_t rows;
  };
  const Case cases[] = {
      {posixReport(subfolderRow + folderRow), false, 2},
      {posixReport(subfolderRow), true, 1},                            // no folder row
      {posixReport(""), true, 0},                                      // no row at all
      {posixReport(subfolderRow + folderRow.substr(0, 20)), true, 1},  // a line cut short
      {posixReport(subfolderRow + folderRow + "Error accessing folder: /srv/b: \r\n"), true, 2},
      // Without its line end, a whole last row is a row (as $(...) and editors leave it), and
      // one cut short is not: the line ends in the stamp, and a stamp without its seconds, or
      // without the " PM" that the report's other stamps have, is cut.
      {posixReport(subfolderRow + folderRow.substr(0, folderRow.size() - 2)), false, 2},
      {posixReport(subfolderRow + folderRow.substr(0, folderRow.size() - 5)), true, 1},
      {posixReport("/srv/\t1.000 MB\t1.049 MiB\t5\t"), false, 1},
      {posixReport("/srv/a\t1.000 MB\t1.049 MiB\t3\t12/7/2026 11:15:22 PM\r\n"
                   "/srv/\t1.000 MB\t1.049 MiB\t5\t12/7/2026 11:15:22 PM"),
       false, 2},
  };
  for (const Case& c : cases) {
    ViewReport report;
    ASSERT_TRUE(read(c.text, report)) << c.text;
    EXPECT_EQ(report.truncated, c.truncated) << c.text;
    EXPECT_EQ(report.rows.size(), c.rows) << c.text;
  }
  // Cut just before its " PM": the row is whole, its stamp is not.
  ViewReport cutBeforePm;
  ASSERT_TRUE(read(posixReport("/srv/a\t1.000 MB\t1.049 MiB\t3\t12/7/2026 11:15:22 PM\r\n"
                               "/srv/\t1.000 MB\t1.049 MiB\t5\t12/7/2026 11:15:22"),
                   cutBeforePm));
  EXPECT_EQ(isoStampText(cutBeforePm.rows[0].stamp), "2026-12-07T23:15:22");
  EXPECT_EQ(cutBeforePm.rows[1].stamp.kind, Stamp::Kind::kUnreadable);
  for (const std::string& notAReport : {std::string(), kHead, std::string("path,total size\r\n"),
                                        kHead + kHeader.substr(0, kHeader.size() - 2)}) {
    ViewReport report;
    EXPECT_FALSE(read(notAReport, report)) << notAReport;
  }
}

TEST(SizeTexts, ReadBackToTheBytesTheyWereWrittenFrom) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bytes = random() >> (random() % 64);
    for (auto format : {formatSizeBinary, formatSizeDecimal}) {
      std::string text = narrow(format(bytes));
      std::uint64_t read = 0;
      ASSERT_TRUE(parseSizeText(text, read)) << text;
      // Half a thousandth of the unit, and for sizes near 2^64 the rounding of the double too.
      std::uint64_t unit = text.find("TB") != std::string::npos    ? 1ULL << 40
                           : text.find("TiB") != std::string::npos ? 1000000000000ULL
                           : text.find("GB") != std::string::npos  ? 1ULL << 30
                           : text.find("GiB") != std::string::npos ? 1000000000ULL
                           : text.find("MB") != std::string::npos  ? 1ULL << 20
                                                                   : 1000000ULL;
      std::uint64_t error = read > bytes ? read - bytes : bytes - read;
      ASSERT_LE(error, unit / 2000 + 1 + bytes / (1ULL << 52)) << bytes << " read as " << text;
    }
  }
  for (const char* notASize : {"", "1.23 MB", "1.2345 MB", "1.234MB", "1.234 KB", "-1.000 MB",
                               "1.234 MB ", "x.000 MB", "1.234 mb"}) {
    std::uint64_t read;
    EXPECT_FALSE(parseSizeText(notASize, read)) << notASize;
  }
}

TEST(Stamps, EveryLocalesFormatInEachOrderAndTheStampOfAFolderWithoutFiles) {
  constexpr DateOrder mdy = DateOrder::kMonthDayYear, dmy = DateOrder::kDayMonthYear,
                      ymd = DateOrder::kYearMonthDay;
  struct Case {
    const char* text;
    DateOrder order;
    Stamp::Kind kind;
    const char* iso;
  };
  const Case cases[] = {
      // C and en_US, Windows in English, en_GB, fr_FR, de_DE and ISO.
      {"12/07/26 23:15:22", mdy, Stamp::Kind::kTime, "2026-12-07T23:15:22"},
      {"12/7/2026 11:15:22 PM", mdy, Stamp::Kind::kTime, "2026-12-07T23:15:22"},
      {"1/2/2023 12:05:00 AM", mdy, Stamp::Kind::kTime, "2023-01-02T00:05:00"},
      {"1/2/2023 12:05:00 pm", mdy, Stamp::Kind::kTime, "2023-01-02T12:05:00"},
      {"03/10/26 10:00:00", dmy, Stamp::Kind::kTime, "2026-10-03T10:00:00"},
      {"03/10/2026 10:00:00", dmy, Stamp::Kind::kTime, "2026-10-03T10:00:00"},
      {"3.10.2026 10:00:00", dmy, Stamp::Kind::kTime, "2026-10-03T10:00:00"},
      {"03.10.2026. 10.00.00", dmy, Stamp::Kind::kTime, "2026-10-03T10:00:00"},
      {"2026-10-03 10:00:00", ymd, Stamp::Kind::kTime, "2026-10-03T10:00:00"},
      {"26/10/03 10:00:00", ymd, Stamp::Kind::kTime, "2026-10-03T10:00:00"},
      // Two-digit years as %y reads them: 69 is 1969, 68 is 2068.
      {"12/31/69 23:59:59", mdy, Stamp::Kind::kTime, "1969-12-31T23:59:59"},
      {"01/01/68 00:00:00", mdy, Stamp::Kind::kTime, "2068-01-01T00:00:00"},
      {"29/02/00 00:00:00", dmy, Stamp::Kind::kTime, "2000-02-29T00:00:00"},
      // The 1601 stamp in local time: UTC, west of it (local mean time), east of it.
      {"01/01/01 00:00:00", mdy, Stamp::Kind::kNoFiles, "1601-01-01T00:00:00"},
      {"12/31/00 19:03:58", mdy, Stamp::Kind::kNoFiles, "1600-12-31T19:03:58"},
      {"31/12/00 19:03:58", dmy, Stamp::Kind::kNoFiles, "1600-12-31T19:03:58"},
      {"01/01/01 09:00:00", dmy, Stamp::Kind::kNoFiles, "1601-01-01T09:00:00"},
      {"1/1/1601 12:00:00 AM", mdy, Stamp::Kind::kNoFiles, "1601-01-01T00:00:00"},
      {"01.01.1601 09:00:00", dmy, Stamp::Kind::kNoFiles, "1601-01-01T09:00:00"},
      {"01/01/01 16:00:00", mdy, Stamp::Kind::kTime, "2001-01-01T16:00:00"},
      {"12/31/00 08:00:00", mdy, Stamp::Kind::kTime, "2000-12-31T08:00:00"},
      // Not a date in that order, and texts that are no stamp.
      {"13/07/26 23:15:22", mdy, Stamp::Kind::kUnreadable, ""},
      {"07/13/26 23:15:22", dmy, Stamp::Kind::kUnreadable, ""},
      {"31/04/26 23:15:22", dmy, Stamp::Kind::kUnreadable, ""},
      {"29/02/26 23:15:22", dmy, Stamp::Kind::kUnreadable, ""},
      {"2026-10-03 10:00:00", dmy, Stamp::Kind::kUnreadable, ""},
      {"03/10/2026 10:00:00", ymd, Stamp::Kind::kUnreadable, ""},
      {"03/10-2026 10:00:00", dmy, Stamp::Kind::kUnreadable, ""},
      {"12/07/26 24:00:00", mdy, Stamp::Kind::kUnreadable, ""},
      {"12/07/26 23:15", mdy, Stamp::Kind::kUnreadable, ""},
      {"12/7/2026 13:15:22 PM", mdy, Stamp::Kind::kUnreadable, ""},
      {"12/07/202 23:15:22", mdy, Stamp::Kind::kUnreadable, ""},
      {"12/07/26 23:15:22 ", mdy, Stamp::Kind::kUnreadable, ""},
      {"", mdy, Stamp::Kind::kUnreadable, ""},
  };
  for (const Case& c : cases) {
    Stamp stamp = parseStamp(c.text, c.order);
    EXPECT_EQ(stamp.kind, c.kind) << c.text;
    EXPECT_EQ(isoStampText(stamp), c.iso) << c.text;
  }
  EXPECT_EQ(stampSeconds(parseStamp("01/01/70 00:00:00")), 0);
  EXPECT_EQ(stampSeconds(parseStamp("1/1/1601 12:00:00 AM")), -11644473600LL);
}

// The order of day and month that a report's stamps are read in: the stamps themselves settle it
// when one fits one order only, and nothing read against them ever does.
TEST(DateOrders, TheReportsOwnStampsSettleThemAndNothingOverrulesThem) {
  constexpr DateOrder mdy = DateOrder::kMonthDayYear, dmy = DateOrder::kDayMonthYear,
                      ymd = DateOrder::kYearMonthDay;
  struct Case {
    std::vector<std::string> stamps;  // the first is in the time filter's settings line
    std::optional<DateOrder> stated;
    DateOrder locale;
    ReadOutcome outcome;
    DateOrderBasis basis;
    DateOrder order;
    std::string witness;
  };
  const Case cases[] = {
      // A day above 12 settles it, whatever the locale; so does a year written first.
      {{"", "03/10/26 10:00:00", "13/10/26 10:00:00"},
       {},
       mdy,
       ReadOutcome::kRead,
       DateOrderBasis::kStamps,
       dmy,
       "13/10/26 10:00:00"},
      {{"", "10/03/2026 10:00:00 AM", "10/13/2026 10:00:00 AM"},
       {},
       dmy,
       ReadOutcome::kRead,
       DateOrderBasis::kStamps,
       mdy,
       "10/13/2026 10:00:00 AM"},
      {{"", "01.01.2030 00:00:00", "24.12.2029 18:00:00"},
       {},
       mdy,
       ReadOutcome::kRead,
       DateOrderBasis::kStamps,
       dmy,
       "24.12.2029 18:00:00"},
      {{"", "2026-10-03 10:00:00"},
       {},
       dmy,
       ReadOutcome::kRead,
       DateOrderBasis::kStamps,
       ymd,
       "2026-10-03 10:00:00"},
      // The stamp of the time filter's settings line counts too.
      {{"25/11/26 14:17:34", "03/12/26 10:00:00"},
       {},
       mdy,
       ReadOutcome::kRead,
       DateOrderBasis::kStamps,
       dmy,
       "25/11/26 14:17:34"},
      // Every stamp fits both: what is stated, else the locale's order, else month first; a
      // year first in two digits only when stated.
      {{"", "03/10/26 10:00:00"}, {}, dmy, ReadOutcome::kRead, DateOrderBasis::kLocale, dmy, ""},
      {{"", "03/10/26 10:00:00"}, {}, mdy, ReadOutcome::kRead, DateOrderBasis::kLocale, mdy, ""},
      {{"", "03/10/26 10:00:00"}, dmy, mdy, ReadOutcome::kRead, DateOrderBasis::kStated, dmy, ""},
      {{"", "03/10/26 10:00:00"}, ymd, mdy, ReadOutcome::kRead, DateOrderBasis::kStated, ymd, ""},
      {{"", "03/10/2026 10:00:00"}, {}, ymd, ReadOutcome::kRead, DateOrderBasis::kUsual, mdy, ""},
      // A stated order that a stamp contradicts is not followed.
      {{"", "03/10/26 10:00:00", "13/10/26 10:00:00"},
       mdy,
       mdy,
       ReadOutcome::kOrderContradicted,
       DateOrderBasis::kNoDates,
       mdy,
       "13/10/26 10:00:00"},
      // Stamps that fit no one order are read in none; no dates, nothing to settle.
      {{"", "13/10/26 10:00:00", "10/13/26 10:00:00"},
       {},
       mdy,
       ReadOutcome::kRead,
       DateOrderBasis::kConflict,
       mdy,
       ""},
      {{"", "", "07 Dec 2026"}, {}, dmy, ReadOutcome::kRead, DateOrderBasis::kNoDates, mdy, ""},
  };
  for (const Case& c : cases) {
    std::string rows;
    for (std::size_t i = 1; i < c.stamps.size(); ++i) {
      rows += "/srv/" + std::to_string(i) + "\t1.000 MB\t1.049 MiB\t5\t" + c.stamps[i] + "\r\n";
    }
    std::string text =
        kHead + "Generating stats for: /srv/\r\n" +
        (c.stamps[0].empty() ? "No time filter specified"
                             : "Treemeter counts files written on or after: " + c.stamps[0]) +
        "\r\n" + kHeader + rows + "/srv/\t1.000 MB\t1.049 MiB\t5\t\r\n";
    ReadOptions options;
    options.statedOrder = c.stated;
    options.localeOrder = c.locale;
    ViewReport report;
    ASSERT_EQ(readReport(text, options, report), c.outcome) << text;
    EXPECT_EQ(report.orderWitness, c.witness) << text;
    if (c.outcome != ReadOutcome::kRead) continue;
    EXPECT_EQ(report.dateOrderBasis, c.basis) << text;
    EXPECT_EQ(report.dateOrder, c.order) << text;
    // Every stamp is read in the settled order, or, where none is, in none.
    for (const ReportRow& row : report.rows) {
      Stamp expected =
          c.basis == DateOrderBasis::kConflict ? Stamp() : parseStamp(row.stampText, c.order);
      EXPECT_EQ(isoStampText(row.stamp), isoStampText(expected)) << row.stampText;
    }
  }
}

// UTF-16 of either byte order and UTF-8 with a byte order mark, as Windows shells save a report,
// read as the same report in UTF-8; so do Windows reports.
TEST(ReportReader, ReadsUtf16AndMarkedUtf8LikeTheirUtf8Twin) {
  const std::u16string posix =
      u"Treemeter v2.0\r\nGenerating stats for: /srv/caf\u00e9\r\n"
      u"Report includes folders equal or greater than 0.000 MB\r\nNo time filter specified\r\n"
      u"path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n"
      u"/srv/caf\u00e9/\U0001F4C1 \u0100\t2.861 MB\t3.002 MiB\t7\t13/10/26 10:00:00\r\n"
      u"/srv/caf\u00e9\t2.861 MB\t3.002 MiB\t9\t13/10/26 10:00:00\r\n";
  const std::u16string windows =
      u"Treemeter v2.0\r\nGenerating stats for: C:\\caf\u00e9\r\n"
      u"path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n"
      u"C:\\caf\u00e9\\n\u00e4me\t2.861 MB\t3.002 MiB\t7\t10/13/2026 10:00:00 AM\r\n"
      u"C:\\caf\u00e9\t2.861 MB\t3.002 MiB\t9\t10/13/2026 10:00:00 AM\r\n";
  for (const std::u16string& text : {posix, windows}) {
    std::string utf8, littleEndian = "\xFF\xFE", bigEndian = "\xFE\xFF";
    for (std::size_t i = 0; i < text.size(); ++i) {
      char16_t unit = text[i];
      littleEndian += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
      bigEndian += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
    }
    ViewReport twin;
    ASSERT_TRUE(read(utf8FromUtf16(littleEndian.substr(2), false), twin));
    ASSERT_EQ(twin.rows.size(), 2u);
    EXPECT_FALSE(twin.truncated);
    EXPECT_EQ(twin.encoding, TextEncoding::kUtf8);
    EXPECT_EQ(twin.dateOrderBasis, DateOrderBasis::kStamps);
    for (const std::string& saved : {littleEndian, bigEndian, "\xEF\xBB\xBF" + *twin.text}) {
      ViewReport report;
      ASSERT_TRUE(read(saved, report));
      EXPECT_EQ(*report.text, *twin.text);
      EXPECT_EQ(report.folder, twin.folder);
      EXPECT_EQ(report.encoding, TextEncoding::kUtf8);
      EXPECT_EQ(report.separator, twin.separator);
      EXPECT_EQ(report.truncated, twin.truncated);
      ASSERT_EQ(report.rows.size(), twin.rows.size());
      for (std::size_t i = 0; i < report.rows.size(); ++i) {
        EXPECT_EQ(report.rows[i].path, twin.rows[i].path);
        EXPECT_EQ(report.rows[i].totalBytes, twin.rows[i].totalBytes);
        EXPECT_EQ(isoStampText(report.rows[i].stamp), "2026-10-13T10:00:00");
      }
    }
  }
  // A Windows report as Treemeter.exe writes it is Latin-1; in UTF-8 throughout, as PowerShell 7
  // saves it, UTF-8.
  const std::string head = kHead + "Generating stats for: C:\\d\r\n" + kHeader;
  for (const auto& [name, encoding] :
       {std::pair<std::string, TextEncoding>{"caf\xE9", TextEncoding::kLatin1},
        {"caf\xC3\xA9", TextEncoding::kUtf8}}) {
    ViewReport report;
    ASSERT_TRUE(read(head + "C:\\d\\" + name + "\t0.000 MB\t0.000 MiB\t1\t\r\n", report));
    EXPECT_EQ(report.encoding, encoding) << name;
    EXPECT_EQ(utf8Text(report.rows[0].path, report.encoding), "C:\\d\\caf\xC3\xA9");
  }
}

// The parent of each of these rows, in this order, in a report with this separator.
std::vector<std::ptrdiff_t> parentsOf(std::vector<const char*> paths, char separator) {
  ViewReport report;
  report.separator = separator;
  for (const char* path : paths) report.rows.emplace_back().path = path;
  return parentRows(report);
}

TEST(ParentRows, FoldersNestByWholeNamesInTheOrderOfTheReport) {
  // /a/bc is no subfolder of /a/b; /a/b/x has no row, so /a/b/x/y hangs from /a/b; "/" holds
  // /a/bc and /a/b by the separator it ends with; /z comes after "/", as no complete report has it.
  EXPECT_EQ(parentsOf({"/a/bc/d", "/a/bc", "/a/b/x/y", "/a/b", "/", "/z"}, '/'),
            (std::vector<std::ptrdiff_t>{1, 4, 3, 4, -1, -1}));
  EXPECT_EQ(parentsOf({"C:\\a\\b", "C:\\a", "C:\\"}, '\\'),
            (std::vector<std::ptrdiff_t>{1, 2, -1}));
}

TEST(Utf8Text, InvalidBytesBecomeReplacementCharactersAndLatin1BytesTheirCharacters) {
  const std::string replacement = "\xEF\xBF\xBD";
  struct Case {
    std::string bytes;
    std::string utf8;
  };
  const Case cases[] = {
      {"caf\xC3\xA9 \xF0\x9F\x93\x81 \xE2\x80\xA8", "caf\xC3\xA9 \xF0\x9F\x93\x81 \xE2\x80\xA8"},
      {"bad\xFF\xFEname", "bad" + replacement + replacement + "name"},
      {"\xC0\xAF", replacement + replacement},                                      // overlong "/"
      {"\xED\xA0\x80", replacement + replacement + replacement},                    // a surrogate
      {"\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},  // > U+10FFFF
      {"\xE2\x82", replacement + replacement},  // cut short at the end
      {"\xE2\x82x", replacement + replacement + "x"},
      {"\xC3", replacement},
  };
  for (const Case& c : cases) EXPECT_EQ(utf8Text(c.bytes, TextEncoding::kUtf8), c.utf8) << c.bytes;
  EXPECT_EQ(utf8Text("l\xE9\xFF?", TextEncoding::kLatin1), "l\xC3\xA9\xC3\xBF?");
  // UTF-16: a pair of surrogates is one character; a lone one, or an odd last byte, is none.
  EXPECT_EQ(utf8FromUtf16(std::string("a\0\xE9\0\x3D\xD8\x01\xDC", 8), false),
            "a\xC3\xA9\xF0\x9F\x90\x81");
  EXPECT_EQ(utf8FromUtf16(std::string("\0a\xD8\x3D\0b\0", 7), true),
            "a" + replacement + "b" + replacement);
}

TEST(ShownText, CharactersThatHideOrReorderTextShowAsTheirCodes) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"rlo\xE2\x80\xAEgpj.exe", "rlo\xE2\x80\xB9U+202E\xE2\x80\xBAgpj.exe"},
      {"a\tb\x7F",
       "a\xE2\x80\xB9U+0009\xE2\x80\xBA"
       "b\xE2\x80\xB9U+007F\xE2\x80\xBA"},
      {"evil\xC2\x9B"
       "2J",
       "evil\xE2\x80\xB9U+009B\xE2\x80\xBA"
       "2J"},
      {"zero\xE2\x80\x8Bwidth\xE2\x81\xA6",
       "zero\xE2\x80\xB9U+200B\xE2\x80\xBAwidth"
       "\xE2\x80\xB9U+2066\xE2\x80\xBA"},
      {"tag\xF3\xA0\x81\x81", "tag\xE2\x80\xB9U+E0041\xE2\x80\xBA"},
      // Letters, symbols and the line separator are what they look like.
      {"caf\xC3\xA9 \xF0\x9F\x93\x81 \xE2\x80\xA8 \xE2\x80\xB9",
       "caf\xC3\xA9 \xF0\x9F\x93\x81 \xE2\x80\xA8 \xE2\x80\xB9"},
  };
  for (const Case& c : cases) EXPECT_EQ(shownText(c.text), c.shown) << c.text;
}

}  // namespace
