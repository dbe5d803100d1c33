// Report rows and error lines, as texts and as the program prints them.
#include "report/rows.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "report/output.h"
#include "support/program.h"
#include "support/tree.h"

namespace {

std::string narrow(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

// What `print` writes through a report writer of its own, taken from standard output.
template <typename Print>
std::string capturedOutput(Print print) {
  std::fflush(stdout);
  std::FILE* file = std::tmpfile();
  int saved = dup(STDOUT_FILENO);
  dup2(fileno(file), STDOUT_FILENO);
  ReportOutput output;
  ReportWriter writer(output);
  print(writer);
  flushOutput(output);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, got);
  }
  std::fclose(file);
  return text;
}

// The stamp column is the only one whose text can come out empty (a failed conversion); no stamp
// that a file can carry makes the POSIX conversion fail, so the row's composition is checked
// with the stamp text given.
TEST(ReportRowText, AnEmptyStampKeepsAllFiveColumns) {
  EXPECT_EQ(reportRowText(u"D:\\Data", 5497558138880, 5497558138880, 120, u""),
            u"D:\\Data\t5.000 TB\t5.498 TiB\t120\t\r\n");
  EXPECT_EQ(reportRowText(u"", 0, 0, 0, u""), u"\t0.000 MB\t0.000 MiB\t0\t\r\n");
}

TEST(ReportRowText, CountsAreWrittenInFullBeyond32Bits) {
  EXPECT_EQ(reportRowText(u"x", 0, 0, 3000000000ULL, u"d t"),
            u"x\t0.000 MB\t0.000 MiB\t3000000000\td t\r\n");
  EXPECT_EQ(reportRowText(u"x", 0, 0, (1ULL << 32) + 5, u"d t"),
            u"x\t0.000 MB\t0.000 MiB\t4294967301\td t\r\n");
}

TEST(ReportRow, PercentSignsAndBackslashesInAFolderNameAreWrittenUnchanged) {
  std::string top = makeTemporaryFolder();
  std::string folder = top + "/100%s%d\\n%%\\";
  makeFolder(folder);
  makeFile(folder + "/file", 5000, 1000000000);
  ProgramResult result = runProgram({"no", "0", "0", "0", folder});
  removeTree(top);
  EXPECT_EQ(result.out, reportHead(folder, "0.000 MB") + folder +
                            "\t0.005 MB\t0.008 MiB\t3\t09/09/01 01:46:40\r\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

// A POSIX name may hold any byte but "/" and NUL. Its control characters are written as "?" in
// rows, error lines, the root row and the settings line, so that no name can add a row or a column
// to the report or send an escape sequence to a terminal.
TEST(ReportRow, ControlCharactersInNamesCannotForgeRowsOrReachTheTerminal) {
  std::string top = makeTemporaryFolder();
  std::string root = top + "/root\x1b[2J";
  std::string shownRoot = top + "/root?[2J";
  std::string forger = "x\nfake\t9.000 MB\t9.437 MiB\t9\t12-31-99 23:59:59\r\n\ty\x7f";
  makeFolder(root);
  makeFolder(root + "/" + forger);
  makeFile(root + "/" + forger + "/file", 5000, 1000000000);
  makeLink(".", root + "/loop\x1b]0;title\x07");

  ProgramResult rows = runProgram({"no", "0", "0", "0", root});
  EXPECT_EQ(rows.out, reportHead(shownRoot, "0.000 MB") + shownRoot +
                          "/x?fake?9.000 MB?9.437 MiB?9?12-31-99 23:59:59???y?"
                          "\t0.005 MB\t0.008 MiB\t3\t09/09/01 01:46:40\r\n" +
                          shownRoot + "\t0.005 MB\t0.008 MiB\t7\t09/09/01 01:46:40\r\n");

  // Followed, the link leads back to its own folder; with a negative depth no folder gets a row,
  // and the root row comes from the folder argument.
  ProgramResult errors = runProgram({"yes", "0", "0", "-1", root});
  EXPECT_EQ(errors.out, reportHead(shownRoot, "0.000 MB") + "Error accessing folder: " + shownRoot +
                            "/loop?]0;title?: (40): Too many levels of symbolic links\r\n" +
                            shownRoot + "\t0.005 MB\t0.008 MiB\t7\t09/09/01 01:46:40\r\n");
  removeTree(top);
}

class ErrorText : public testing::Test {
 protected:
  // Messages in the C locale; the tool reads the locale once, at its first message.
  static void SetUpTestSuite() { setenv("LC_ALL", "C", 1); }
};

TEST_F(ErrorText, TheCodeInParenthesesPrecedesTheSystemsMessage) {
  EXPECT_EQ(narrow(systemErrorText(2)), "(2): No such file or directory");
  EXPECT_EQ(narrow(systemErrorText(13)), "(13): Permission denied");
  EXPECT_EQ(narrow(systemErrorText(20)), "(20): Not a directory");
}

TEST_F(ErrorText, ACodeWithoutAMessageLeavesTheCodeOutOfTheLine) {
  EXPECT_EQ(systemErrorText(99999), u"");
  EXPECT_EQ(
      capturedOutput([](ReportWriter& writer) { printFolderError(writer, u"/srv/x", 99999); }),
      "Error accessing folder: /srv/x: \r\n");
}

// The folder argument that cannot be listed gives status 1, so that a script does not keep the
// report as a good one; the same folders inside a tree give their lines and leave it at 0.
TEST(ErrorLine, AFolderThatCannotBeListedGetsItsLineAndAZeroRootRow) {
  if (std::string why = unprivilegedRunUnavailable(); !why.empty()) GTEST_SKIP() << why;
  std::string top = makeTemporaryFolder();
  std::string file = top + "/file";
  makeFile(file, 10);
  std::string locked = top + "/locked";
  makeFolder(locked);
  chmod(locked.c_str(), 0);
  struct Case {
    std::string folder;
    std::string error;
  };
  const Case cases[] = {
      {"/no/such", "(2): No such file or directory"},
      {file, "(20): Not a directory"},
      {locked, "(13): Permission denied"},
  };
  ProgramOptions asAnyUser;
  asAnyUser.unprivileged = true;
  for (const auto& c : cases) {
    ProgramResult result = runProgram({"no", "1MB", "0", "0", c.folder}, asAnyUser);
    EXPECT_EQ(result.out, reportHead(c.folder, "1.000 MB") + "Error accessing folder: " + c.folder +
                              ": " + c.error + "\r\n" + c.folder +
                              "\t0.000 MB\t0.000 MiB\t0\t01/01/01 00:00:00\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitStatus, 1);
  }
  ProgramResult tree = runProgram({"no", "1MB", "0", "0", top}, asAnyUser);
  EXPECT_NE(tree.out.find("Error accessing folder: " + locked + ": (13): Permission denied\r\n"),
            std::string::npos)
      << tree.out;
  EXPECT_EQ(tree.exitStatus, 0);
  removeTree(top);
}

}  // namespace
