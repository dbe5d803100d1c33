// The status line: its text, and the program run with standard error on a pseudo-terminal, where
// the line must come, change and go without a trace, and leave standard output alone.
#include "report/status_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
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
  EXPECT_EQ(narrow(statusLineText(progress, std::chrono::seconds(3723), 72)),
            "1234 folders, 56789 entries, 3.000 GB, 1:02:03  /srv/data/projects/2026");
}

// The folder is the most telling part: as the width shrinks, the entries give way first, then the
// folders, until only the size and the time stand before the folder.
TEST(StatusLineText, NarrowTerminalsDropCountsBeforeTheFolder) {
  ScanProgress progress = {48213, 611902, 12LL << 30, u"/srv/data/projects/2026/raw/images"};
  const struct {
    std::size_t width;
    std::string expected;
  } cases[] = {
      {79, "48213 folders, 611902 entries, 12.000 GB, 0:07  /srv/data/proj...026/raw/images"},
      {70, "48213 folders, 611902 entries, 12.000 GB, 0:07  /srv/data...raw/images"},
      {59, "48213 folders, 12.000 GB, 0:07  /srv/data/pr...6/raw/images"},
      {39, "12.000 GB, 0:07  /srv/data...raw/images"},
      {12, "12.000 GB, 0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(narrow(statusLineText(progress, std::chrono::seconds(7), c.width)), c.expected)
        << c.width;
  }
  progress.folder = u"/srv";
  EXPECT_EQ(narrow(statusLineText(progress, std::chrono::seconds(7), 52)),
            "48213 folders, 611902 entries, 12.000 GB, 0:07  /srv");
}

// Control characters in a name would move the cursor or clear the screen of the terminal.
TEST(StatusLineText, ControlCharactersInTheFolderShowAsQuestionMarks) {
  ScanProgress progress = {1, 2, 0, u"/srv/\x1b]0;title\x07/a\tb\nc\x7f"};
  EXPECT_EQ(narrow(statusLineText(progress, std::chrono::seconds(0), 79)),
            "1 folders, 2 entries, 0.000 MB, 0:00  /srv/?]0;title?/a?b?c?");
}

// How wide a terminal was while it received bytes: `columns` up to byte `narrowedAt`,
// `narrowedColumns` from there on.
struct TerminalWidth {
  std::size_t columns = std::string::npos;
  std::size_t narrowedAt = std::string::npos;
  std::size_t narrowedColumns = std::string::npos;
};

constexpr std::string_view kEraseBelow = "\x1b[J";

// What a terminal shows at the end, line by line without trailing blanks. The terminal folds a
// line longer than its width onto more rows, and folds it again when it narrows, keeping the
// cursor where it was in the line: carriage returns go back to the start of the cursor's row,
// line feeds start a line, ESC [ J blanks from the cursor to the end of the screen, and every other
// byte (other escape sequences included) overwrites.
std::vector<std::string> finalScreen(const std::string& received, TerminalWidth width = {}) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (std::size_t i = 0; i < received.size(); ++i) {
    std::size_t columns = i < width.narrowedAt ? width.columns : width.narrowedColumns;
    std::string& line = lines.back();
    if (received.compare(i, kEraseBelow.size(), kEraseBelow) == 0) {
      if (line.size() > column) line.resize(column);
      i += kEraseBelow.size() - 1;
    } else if (received[i] == '\r') {
      column -= column % columns;
    } else if (received[i] == '\n') {
      lines.emplace_back();
      column = 0;
    } else {
      if (line.size() <= column) line.resize(column + 1, ' ');
      line[column++] = received[i];
    }
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// The texts the status line showed, one per drawing: each is written from the start of its row
// and followed by an erasure of what lies beyond it.
std::set<std::string> statusTexts(const std::string& received) {
  std::set<std::string> texts;
  std::istringstream parts(received);
  for (std::string part; std::getline(parts, part, '\r');) {
    std::size_t end = part.size() - std::min(part.size(), kEraseBelow.size());
    if (part.compare(end, std::string::npos, kEraseBelow) == 0 && part.substr(0, end) != " ") {
      texts.insert(part.substr(0, end));
    }
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
  // next level, so the scan follows 7^6 ways down to the last.
  static void SetUpTestSuite() {
    tree = makeTemporaryFolder();
    constexpr int kLevels = 6;
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
// pipe, and with both on the terminal. In the first, the window narrows from 100 columns to 40
// while the line is shown: the terminal folds that line onto more rows, the next drawing must
// replace all of them, and at 40 columns the folder stays in view.
TEST_F(StatusLineOnTerminal, ComesChangesGoesAndLeavesTheReportAlone) {
  ProgramOptions errorOnTerminal;
  errorOnTerminal.terminalColumns = 100;
  errorOnTerminal.narrowedTerminalColumns = 40;
  errorOnTerminal.standardOutputPath = tree + "/report-terminal";
  ProgramResult drawn = scanTree(errorOnTerminal);
  EXPECT_EQ(drawn.exitStatus, 0);
  ASSERT_NE(drawn.errNarrowedAt, std::string::npos);
  std::set<std::string> wide = statusTexts(drawn.err.substr(0, drawn.errNarrowedAt));
  ASSERT_FALSE(wide.empty()) << drawn.err;
  for (const std::string& text : wide) {
    EXPECT_GT(text.size(), 40u) << text;
    EXPECT_LE(text.size(), 99u) << text;
  }
  std::set<std::string> narrowed = statusTexts(drawn.err.substr(drawn.errNarrowedAt));
  ASSERT_FALSE(narrowed.empty()) << drawn.err;
  for (const std::string& text : narrowed) {
    EXPECT_LE(text.size(), 39u) << text;
    EXPECT_NE(text.find(tree.substr(0, 8)), std::string::npos) << text;
  }
  EXPECT_TRUE(finalScreen(drawn.err, {100, drawn.errNarrowedAt, 40}).empty())
      << drawn.err.substr(drawn.err.size() - 200);

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
  for (const std::string& text : statusTexts(shared.err)) EXPECT_LE(text.size(), 99u) << text;
  EXPECT_EQ(finalScreen(shared.err), finalScreen(report));
  EXPECT_EQ(finalScreen(report).size(), 5u + 1 + 7 + 49) << report;
}

}  // namespace
