// Reports of both platforms read back into records, and the report's bytes made into UTF-8.
#include "view/report_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>

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
  ASSERT_TRUE(readReport(posix, report));
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
  ASSERT_TRUE(readReport(windows, windowsReport));
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
      {posixReport(folderRow.substr(0, folderRow.size() - 2)), true, 0},  // no line end
  };
  for (const Case& c : cases) {
    ViewReport report;
    ASSERT_TRUE(readReport(c.text, report)) << c.text;
    EXPECT_EQ(report.truncated, c.truncated) << c.text;
    EXPECT_EQ(report.rows.size(), c.rows) << c.text;
  }
  for (const std::string& notAReport : {std::string(), kHead, std::string("path,total size\r\n"),
                                        kHead + kHeader.substr(0, kHeader.size() - 2)}) {
    ViewReport report;
    EXPECT_FALSE(readReport(notAReport, report)) << notAReport;
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

TEST(Stamps, BothPlatformsFormatsAndTheStampOfAFolderWithoutFiles) {
  struct Case {
    const char* text;
    Stamp::Kind kind;
    const char* iso;
  };
  const Case cases[] = {
      {"12/07/26 23:15:22", Stamp::Kind::kTime, "2026-12-07T23:15:22"},
      {"03/04/99 00:00:00", Stamp::Kind::kTime, "1999-03-04T00:00:00"},
      {"12/7/2026 11:15:22 PM", Stamp::Kind::kTime, "2026-12-07T23:15:22"},
      {"1/2/2023 12:05:00 AM", Stamp::Kind::kTime, "2023-01-02T00:05:00"},
      {"1/2/2023 12:05:00 PM", Stamp::Kind::kTime, "2023-01-02T12:05:00"},
      // The 1601 stamp in local time: UTC, west of it (local mean time), east of it.
      {"01/01/01 00:00:00", Stamp::Kind::kNoFiles, "1601-01-01T00:00:00"},
      {"12/31/00 19:03:58", Stamp::Kind::kNoFiles, "1600-12-31T19:03:58"},
      {"01/01/01 09:00:00", Stamp::Kind::kNoFiles, "1601-01-01T09:00:00"},
      {"1/1/1601 12:00:00 AM", Stamp::Kind::kNoFiles, "1601-01-01T00:00:00"},
      {"01/01/01 16:00:00", Stamp::Kind::kTime, "2001-01-01T16:00:00"},
      {"12/31/00 08:00:00", Stamp::Kind::kTime, "2000-12-31T08:00:00"},
      // Other locales' formats, and texts that are no stamp.
      {"07.12.2026 23:15:22", Stamp::Kind::kUnreadable, ""},
      {"2026-12-07 23:15:22", Stamp::Kind::kUnreadable, ""},
      {"13/07/26 23:15:22", Stamp::Kind::kUnreadable, ""},
      {"12/07/26 24:00:00", Stamp::Kind::kUnreadable, ""},
      {"12/7/2026 13:15:22 PM", Stamp::Kind::kUnreadable, ""},
      {"12/07/202 23:15:22", Stamp::Kind::kUnreadable, ""},
      {"12/07/26 23:15:22 ", Stamp::Kind::kUnreadable, ""},
      {"", Stamp::Kind::kUnreadable, ""},
  };
  for (const Case& c : cases) {
    Stamp stamp = parseStamp(c.text);
    EXPECT_EQ(stamp.kind, c.kind) << c.text;
    EXPECT_EQ(isoStampText(stamp), c.iso) << c.text;
  }
  EXPECT_EQ(stampSeconds(parseStamp("01/01/70 00:00:00")), 0);
  EXPECT_EQ(stampSeconds(parseStamp("1/1/1601 12:00:00 AM")), -11644473600LL);
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
}

}  // namespace
