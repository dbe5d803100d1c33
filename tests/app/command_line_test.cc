// The command line as a user meets it: the real program, its whole output compared byte for byte.
#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

#include "support/program.h"
#include "support/tree.h"

namespace {

// The system's own usage text, after the banner; kept here whole so that any change shows.
const char kUsageText[] =
    "\r\n\r\n"
    "This program counts total bytes inside a folder and produces a report. Only folders of a "
    "certain size are listed.\r\n\r\n"
    "Usage: Treemeter.exe [process reparse points (yes/no)] [size] [include last N days (0 = "
    "all)] [max reporting depth (0 = no limit)] [folder]\r\n"
    "Example: Treemeter.exe yes 3GB 0 0 \"C:\\Windows\"\r\n"
    "Or: Treemeter.exe no 2MB 12 0 \"C:\\Windows\" >c:\\temp\\folderreports.txt\r\n"
    "The above example command counts files of the last 12 days and reports folders larger than "
    "2MB. The output is redirected to a text file.\r\n"
    "Size may be entered in bytes, KB, MB, GB, and TB, but not in fractions. For example: 239, "
    "1025MB, 2TB\r\n"
    "The report lists folder name, total size, total number of files and folders counted, and "
    "the most recent write time stamp encountered\r\n"
    "\r\n"
    "Treemeter is free software of the Treemeter developers, under the MIT licence.\r\n"
    "Read more in its manual page: man treemeter (in the source: man/treemeter.1).\r\n";

// 2001-09-09 01:46:40 UTC, as the C locale shows it.
constexpr std::int64_t kFileSeconds = 1000000000;
const std::string kFileStamp = "09/09/01 01:46:40";
// The stamp of a folder with no file below it, and the earliest cut-off.
const std::string kEarliestStamp = "01/01/01 00:00:00";

std::string row(const std::string& path, const std::string& total, const std::string& onDisk,
                const std::string& count, const std::string& stamp) {
  return path + "\t" + total + "\t" + onDisk + "\t" + count + "\t" + stamp + "\r\n";
}

// Runs the program and expects exactly `expected` on standard output, nothing on standard
// error and exit status `status`.
void expectOutput(const std::vector<std::string>& arguments, const std::string& expected,
                  int status = 0) {
  ProgramResult result = runProgram(arguments);
  std::string shownArguments;
  for (const auto& argument : arguments) shownArguments += " [" + argument + "]";
  EXPECT_EQ(result.out, expected) << shownArguments;
  EXPECT_EQ(result.err, "") << shownArguments;
  EXPECT_EQ(result.exitStatus, status) << shownArguments;
}

// The cut-off line for `days` days before `seconds` (since 1970), in the C locale and UTC.
std::string cutoffLine(std::int64_t seconds, int days) {
  time_t cutoff = static_cast<time_t>(seconds - days * 86400LL);
  struct tm fields;
  gmtime_r(&cutoff, &fields);
  char text[64];
  strftime(text, sizeof text, "%x %X", &fields);
  return std::string("Treemeter counts files written on or after: ") + text;
}

std::int64_t nowSeconds() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec;
}

class CommandLine : public testing::Test {
 protected:
  void SetUp() override { top_ = makeTemporaryFolder(); }
  void TearDown() override { removeTree(top_); }

  // An empty folder: its row counts "." and ".." and has the stamp of no file.
  std::string emptyFolder() {
    std::string folder = top_ + "/empty";
    makeFolder(folder);
    return folder;
  }

  std::string top_;
};

// Status 2, so that a script whose folder argument was lost to an unset variable does not keep
// the usage text as a report.
TEST_F(CommandLine, IncompleteArgumentsOrANegativeSizeGiveTheBannerAndTheUsageText) {
  const std::vector<std::vector<std::string>> commandLines = {
      {},
      {"yes"},
      {"yes", "5GB", "0", top_},
      {"yes", "-1", "0", "0", top_},
      {"yes", "-1KB", "0", "0", top_},
  };
  for (const auto& arguments : commandLines) expectOutput(arguments, bannerLine() + kUsageText, 2);
}

TEST_F(CommandLine, SizeSuffixesSetTheThresholdAndOverflowSaturates) {
  // A folder holding a subfolder with one file of 5000 bytes, 8192 on disk.
  std::string folder = top_ + "/tree";
  makeFolder(folder);
  makeFolder(folder + "/sub");
  makeFile(folder + "/sub/file", 5000, kFileSeconds);
  const std::string subRow = row(folder + "/sub", "0.005 MB", "0.008 MiB", "3", kFileStamp);
  const std::string topRow = row(folder, "0.005 MB", "0.008 MiB", "6", kFileStamp);
  struct Case {
    const char* size;
    const char* threshold;
    bool bothRows;  // otherwise only the row for the folder argument
  };
  const Case cases[] = {
      {"1025MB", "1.001 GB", false},
      {"1KBMB", "1.000 GB", false},
      {"2kB", "0.000 MB", true},
      {"1kbKB", "0.001 MB", true},
      {"239", "0.000 MB", true},
      {"GB5", "0.000 MB", true},
      {"8192", "0.008 MB", true},
      {"8193", "0.008 MB", false},
      // A wrapped threshold would be negative or 0 and report every folder.
      {"8388608TB", "8388608.000 TB", false},
      {"17179869184TB", "8388608.000 TB", false},
  };
  for (const auto& c : cases) {
    expectOutput({"no", c.size, "0", "0", folder},
                 reportHead(folder, c.threshold) + (c.bothRows ? subRow : "") + topRow);
  }
}

TEST_F(CommandLine, OnlyYesInAnyLetterCaseFollowsLinksToFolders) {
  // A folder with one file of 4096 bytes, and a link to it beside it.
  std::string folder = top_ + "/tree";
  makeFolder(folder);
  makeFolder(folder + "/real");
  makeFile(folder + "/real/file", 4096, kFileSeconds);
  makeLink("real", folder + "/link");
  const std::string followed = row(folder, "0.008 MB", "0.008 MiB", "10", kFileStamp);
  const std::string notFollowed = row(folder, "0.004 MB", "0.004 MiB", "7", kFileStamp);
  struct Case {
    const char* flag;
    bool follows;
  };
  const Case cases[] = {{"YES", true}, {"Yes", true},   {"yes", true},
                        {"y", false},  {"true", false}, {"no", false}};
  for (const auto& c : cases) {
    expectOutput({c.flag, "1TB", "0", "0", folder},
                 reportHead(folder, "1.000 TB") + (c.follows ? followed : notFollowed));
  }
}

TEST_F(CommandLine, ADayCountOfZeroOrLessMeansNoTimeFilter) {
  std::string folder = emptyFolder();
  const std::string rootRow = row(folder, "0.000 MB", "0.000 MiB", "2", kEarliestStamp);
  for (const char* days : {"0", "-3", "none", ""}) {
    expectOutput({"no", "1MB", days, "0", folder}, reportHead(folder, "1.000 MB") + rootRow);
  }
}

TEST_F(CommandLine, ADayCountShowsItsCutoffInLocalTime) {
  std::string folder = emptyFolder();
  const std::string rootRow = row(folder, "0.000 MB", "0.000 MiB", "2", kEarliestStamp);
  std::int64_t before = nowSeconds();
  ProgramResult result = runProgram({"no", "1MB", "12", "0", folder});
  std::int64_t after = nowSeconds();
  // The clock may pass a second boundary while the program runs.
  std::string expected = reportHead(folder, "1.000 MB", cutoffLine(after, 12)) + rootRow;
  if (result.out != expected) {
    expected = reportHead(folder, "1.000 MB", cutoffLine(before, 12)) + rootRow;
  }
  EXPECT_EQ(result.out, expected);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(CommandLine, ADayCountReachingBefore1601CountsEveryFile) {
  std::string folder = top_ + "/tree";
  makeFolder(folder);
  makeFile(folder + "/old", 4096, kFileSeconds);
  const std::string rootRow = row(folder, "0.004 MB", "0.004 MiB", "3", kFileStamp);
  const std::string cutoff = "Treemeter counts files written on or after: " + kEarliestStamp;
  // 21350399 days is the first count whose span in 100-nanosecond units passes 2^64.
  for (const char* days : {"1000000", "21350399", "2147483647", "99999999999"}) {
    expectOutput({"no", "1MB", days, "0", folder},
                 reportHead(folder, "1.000 MB", cutoff) + rootRow);
  }
}

TEST_F(CommandLine, AFolderArgumentIsShownByteForByte) {
  std::string folder = top_ + "/caf\xc3\xa9 \x80\xff%s%d";
  makeFolder(folder);
  expectOutput(
      {"no", "1MB", "0", "0", folder},
      reportHead(folder, "1.000 MB") + row(folder, "0.000 MB", "0.000 MiB", "2", kEarliestStamp));
}

TEST_F(CommandLine, EmptyArgumentsArePresentNotMissing) {
  // An empty folder argument names no folder: its error line, then the root row with no path,
  // and the status of a folder that cannot be listed.
  expectOutput({"", "", "", "", ""},
               reportHead("", "0.000 MB") +
                   "Error accessing folder: : (2): No such file or directory\r\n" +
                   row("", "0.000 MB", "0.000 MiB", "0", kEarliestStamp),
               1);
}

}  // namespace
