// The status line: its text, and the program run with standard error on a pseudo-terminal, where
// the line must come, change and go without a trace, and leave standard output alone.
#include "report/status_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/tree.h"

namespace {

std::string narrow(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

TEST(StatusLineText, PathsAreShortenedInTheMiddleToFit) {
  const struct {
    std::u16string text;
    std::size_t width;
    std::string expected;
  } cases[] = {
      {u"/srv/data", 20, "/srv/data"},
      {u"/srv/data", 9, "/srv/data"},
      {u"/srv/data/projects", 11, "/srv...ects"},
      {u"/srv/data/projects", 12, "/srv...jects"},
      {u"/srv/data", 3, "ata"},
      {u"/srv/data", 0, ""},
      // UTF-8 names, as POSIX gives them byte for byte, are not cut inside a character.
      {u"ab\u00c3\u00a9cdefgh", 9, "ab...fgh"},
      {u"abcdefg\u00c3\u00a9h", 7, "ab...h"},
  };
  for (const auto& c : cases) {
    std::u16string shortened = shortenedInTheMiddle(c.text, c.width);
    std::string bytes(shortened.begin(), shortened.end());
    EXPECT_EQ(bytes, c.expected) << narrow(c.text) << " in " << c.width;
    EXPECT_LE(shortened.size(), c.width);
  }
}

TEST(StatusLineText, CountsBytesInTheReportsUnitsTimeAndTheFolderWithinTheWidth) {
  ScanProgress progress = {1234, 56789, 3LL << 30, u"/srv/data/projects/2026"};
  EXPECT_EQ(narrow(statusLineText(progress, std::chrono::seconds(65), 100)),
            "1234 folders, 56789 entries, 3.000 GB, 1:05  /srv/data/projects/2026");
  EXPECT_EQ(narrow(statusLineText(progress, std::chrono::seconds(3723), 56)),
            "1234 folders, 56789 entries, 3.000 GB, 1:02:03  /s...026");
  EXPECT_EQ(narrow(statusLineText(progress, std::chrono::seconds(0), 12)), "1234 folders");
}

// What a terminal shows at the end, row by row without trailing blanks: carriage returns go back
// to the start of the row, line feeds down a row, and every other byte overwrites.
std::vector<std::string> finalScreen(const std::string& received) {
  std::vector<std::string> rows(1);
  std::size_t column = 0;
  for (char byte : received) {
    if (byte == '\r') {
      column = 0;
    } else if (byte == '\n') {
      rows.emplace_back();
    } else {
      std::string& row = rows.back();
      if (row.size() <= column) row.resize(column + 1, ' ');
      row[column++] = byte;
    }
  }
  for (std::string& row : rows) row.erase(row.find_last_not_of(' ') + 1);
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  return rows;
}

// The texts the status line showed, one per drawing.
std::set<std::string> statusTexts(const std::string& received) {
  std::set<std::string> texts;
  std::istringstream parts(received);
  for (std::string part; std::getline(parts, part, '\r');) {
    if (part.find(" folders, ") != std::string::npos) texts.insert(part);
  }
  return texts;
}

std::string fileContents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class StatusLineOnTerminal : public testing::Test {
 protected:
  // A tree of few files that takes seconds to scan with "yes": each level holds links to the
  // next level, so the scan follows 7^7 ways down to the last.
  static void SetUpTestSuite() {
    tree = makeTemporaryFolder();
    constexpr int kLevels = 7;
    constexpr int kLinksPerLevel = 7;
    for (int level = 0; level <= kLevels; ++level) {
      std::string folder = tree + "/L" + std::to_string(level);
      makeFolder(folder);
      makeFile(folder + "/file", 100, 1700000000);
      for (int link = 0; level < kLevels && link < kLinksPerLevel; ++link) {
        makeLink("../L" + std::to_string(level + 1), folder + "/link" + std::to_string(link));
      }
    }
  }
  static void TearDownTestSuite() { removeTree(tree); }

  static ProgramResult scanTree(ProgramOptions options) {
    options.timeoutSeconds = 120;
    return runProgram({"yes", "0", "0", "3", tree + "/L0"}, options);
  }

  static std::string tree;
};

std::string StatusLineOnTerminal::tree;

// Three runs of a scan with rows written while the line is shown (1 + 7 + 49 rows, two levels
// down): with standard error on a terminal and the report in a file, with standard error on a
// pipe, and with both on the terminal.
TEST_F(StatusLineOnTerminal, ComesChangesGoesAndLeavesTheReportAlone) {
  ProgramOptions errorOnTerminal;
  errorOnTerminal.terminalColumns = 100;
  errorOnTerminal.standardOutputPath = tree + "/report-terminal";
  ProgramResult drawn = scanTree(errorOnTerminal);
  EXPECT_EQ(drawn.exitStatus, 0);
  EXPECT_GE(statusTexts(drawn.err).size(), 2u) << drawn.err;
  for (const std::string& text : statusTexts(drawn.err)) EXPECT_LE(text.size(), 99u) << text;
  EXPECT_TRUE(finalScreen(drawn.err).empty()) << drawn.err.substr(drawn.err.size() - 200);

  ProgramOptions errorOnPipe;
  errorOnPipe.standardOutputPath = tree + "/report-pipe";
  ProgramResult silent = scanTree(errorOnPipe);
  EXPECT_EQ(silent.exitStatus, 0);
  EXPECT_EQ(silent.err, "");
  std::string report = fileContents(tree + "/report-pipe");
  EXPECT_EQ(fileContents(tree + "/report-terminal"), report);

  ProgramOptions bothOnTerminal;
  bothOnTerminal.terminalColumns = 100;
  bothOnTerminal.outputOnTerminal = true;
  ProgramResult shared = scanTree(bothOnTerminal);
  EXPECT_EQ(shared.exitStatus, 0);
  EXPECT_GE(statusTexts(shared.err).size(), 2u);
  EXPECT_EQ(finalScreen(shared.err), finalScreen(report));
  EXPECT_EQ(finalScreen(report).size(), 5u + 1 + 7 + 49) << report;
}

}  // namespace
