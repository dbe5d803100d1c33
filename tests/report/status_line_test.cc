// The status line: its text, and the run with standard error on a pseudo-terminal, where the line
// must come, change and go without a trace, and leave standard output alone. The run goes over a
// scripted tree held at chosen folders, by a clock the test moves: the test decides when the line
// is due and what the scan has reached by then.
#include "report/status_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/scripted_run.h"

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
  progress.waitingFor = u"/srv";
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
// What erasing the line writes: a blank over the start of its row, then all below it erased.
const std::string kBlankedLine = "\r \x1b[J\r";

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

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

std::u16string numbered(char16_t letter, int number) {
  return std::u16string(1, letter) + static_cast<char16_t>(u'0' + number);
}

class StatusLineOnTerminal : public testing::Test {
 protected:
  // A top folder with seven subfolders of seven each: 1 + 7 + 49 rows with "no 0 0 0". The scan
  // is held at the first subfolder, s0, until the first release, so that the line can be shown
  // before any row, and at s3 until the second, so that rows come while it is shown.
  static ScriptedTree statusTree() {
    ScriptedTree tree;
    addFolder(tree, 0, std::u16string(kTop.begin(), kTop.end()), 1);
    for (int sub = 0; sub < 7; ++sub) {
      std::size_t folder = addFolder(tree, 0, numbered(u's', sub), 1);
      for (int leaf = 0; leaf < 7; ++leaf) addFolder(tree, folder, numbered(u't', leaf), 1);
    }
    tree.folders[1].heldUntilRelease = 1;
    tree.folders[1 + 3 * 8].heldUntilRelease = 2;
    return tree;
  }

  static ProgramResult scanTree(ProgramOptions options) {
    options.timeoutSeconds = 60;
    options.inProcess = [](const std::vector<std::string>& arguments,
                           const ChildChannels& channels) {
      return runScriptedProgram(statusTree(), 4, arguments, channels);
    };
    return runProgram({"no", "0", "0", "0", kTop}, options);
  }

  static ProgramStep tell(std::string command,
                          std::function<bool(const ProgramResult&)> until = nullptr) {
    ProgramStep step;
    step.until = std::move(until);
    step.tell = std::move(command);
    return step;
  }

  static bool statusShown(const ProgramResult& soFar) { return !statusTexts(soFar.err).empty(); }

  // The scan has begun, and so has the status line's time.
  static bool heldAtFirst(const ProgramResult& soFar) {
    return soFar.events.find("held s0\n") != std::string::npos;
  }

  // Each drawing was made for the width of its moment: at most 99 units while the terminal was
  // 100 columns wide, at most 39 once it was 40, and the folder still in view.
  static void expectDrawnForTheWidth(const ProgramResult& result) {
    ASSERT_NE(result.errNarrowedAt, std::string::npos);
    std::set<std::string> wide = statusTexts(result.err.substr(0, result.errNarrowedAt));
    ASSERT_FALSE(wide.empty()) << result.err;
    for (const std::string& text : wide) {
      EXPECT_GT(text.size(), 40u) << text;
      EXPECT_LE(text.size(), 99u) << text;
    }
    std::set<std::string> narrowed = statusTexts(result.err.substr(result.errNarrowedAt));
    ASSERT_FALSE(narrowed.empty()) << result.err;
    for (const std::string& text : narrowed) {
      EXPECT_LE(text.size(), 39u) << text;
      EXPECT_NE(text.find(kTop.substr(0, 8)), std::string::npos) << text;
    }
  }

  static const std::string kTop;
};

const std::string StatusLineOnTerminal::kTop = "/status-line-tree";

// Three runs of a scan with rows written while the line is shown: with standard error on a
// terminal and the report in a file, with standard error on a pipe, and with both on the terminal.
// In the first and the third, the window narrows from 100 columns to 40 while the line is shown:
// the terminal folds that line onto more rows, the next drawing must replace all of them and be
// made for the new width, and at 40 columns the folder stays in view.
TEST_F(StatusLineOnTerminal, ComesChangesGoesAndLeavesTheReportAlone) {
  const std::string reportPath = testing::TempDir() + "status-line-report-";
  ProgramOptions errorOnTerminal;
  errorOnTerminal.terminalColumns = 100;
  errorOnTerminal.environment = {"TERM=xterm"};
  errorOnTerminal.standardOutputPath = reportPath + "terminal";
  ProgramStep narrow = tell("advance 250", statusShown);
  narrow.narrowTerminalTo = 40;
  errorOnTerminal.steps = {tell("advance 600", heldAtFirst), narrow,
                           tell("release\nrelease", [](const ProgramResult& soFar) {
                             return !statusTexts(soFar.err.substr(soFar.errNarrowedAt)).empty();
                           })};
  ProgramResult drawn = scanTree(errorOnTerminal);
  EXPECT_EQ(drawn.exitStatus, 0);
  ASSERT_NE(drawn.errNarrowedAt, std::string::npos);
  expectDrawnForTheWidth(drawn);
  EXPECT_TRUE(finalScreen(drawn.err, {100, drawn.errNarrowedAt, 40}).empty())
      << drawn.err.substr(drawn.err.size() - std::min<std::size_t>(drawn.err.size(), 200));

  ProgramOptions errorOnPipe;
  errorOnPipe.standardOutputPath = reportPath + "pipe";
  errorOnPipe.steps = {tell("advance 600\nrelease\nrelease")};
  ProgramResult silent = scanTree(errorOnPipe);
  EXPECT_EQ(silent.exitStatus, 0);
  EXPECT_EQ(silent.err, "");
  std::string report = fileContents(reportPath + "pipe");
  EXPECT_EQ(fileContents(reportPath + "terminal"), report);

  // The line is shown before the first row; the window narrows; the rows of s0 to s2 come, and the
  // line steps aside for them and stays away: the clock stands still, so no drawing is due until
  // it moves a second on, while the scan waits at s3.
  ProgramOptions bothOnTerminal;
  bothOnTerminal.terminalColumns = 100;
  bothOnTerminal.outputOnTerminal = true;
  bothOnTerminal.environment = {"TERM=xterm"};
  ProgramStep narrowAndRelease = tell("release", statusShown);
  narrowAndRelease.narrowTerminalTo = 40;
  bothOnTerminal.steps = {tell("advance 600", heldAtFirst), narrowAndRelease,
                          tell("advance 1000",
                               [](const ProgramResult& soFar) {
                                 return soFar.err.find(kTop + "/s2\t") != std::string::npos;
                               }),
                          tell("release", [](const ProgramResult& soFar) {
                            return statusTexts(soFar.err).size() >= 2;
                          })};
  ProgramResult shared = scanTree(bothOnTerminal);
  EXPECT_EQ(shared.exitStatus, 0);
  expectDrawnForTheWidth(shared);
  std::size_t firstRow = shared.err.find(kTop + "/s0/t0\t");
  ASSERT_NE(firstRow, std::string::npos) << shared.err;
  EXPECT_TRUE(endsWith(shared.err.substr(0, firstRow), kBlankedLine)) << shared.err;
  std::set<std::string> afterRows = statusTexts(shared.err.substr(firstRow));
  ASSERT_FALSE(afterRows.empty()) << shared.err;
  for (const std::string& text : afterRows) {
    EXPECT_NE(text.find(", 0:01  "), std::string::npos) << text;
  }
  EXPECT_EQ(finalScreen(shared.err, {100, shared.errNarrowedAt, 40}), finalScreen(report));
  EXPECT_EQ(finalScreen(report).size(), 5u + 1 + 7 + 49) << report;
}

// Nothing is drawn while another program holds the terminal, as a pager such as less does; and
// where TERM is dumb or unset the line is drawn and erased with carriage returns and blanks alone.
// The clock moves on before the rows come, so that a drawing is due whenever the run looks.
TEST_F(StatusLineOnTerminal, KeepsOffAHeldTerminalAndSendsNoEscapesToADumbOne) {
  const std::string reportPath = testing::TempDir() + "status-line-report-held";
  ProgramOptions held;
  held.terminalColumns = 100;
  held.standardOutputPath = reportPath;
  held.environment = {"TERM=xterm"};
  ProgramStep pager = tell("advance 600\nrelease\nrelease", heldAtFirst);
  pager.holdTerminal = true;
  held.steps = {pager};
  ProgramResult hidden = scanTree(held);
  EXPECT_EQ(hidden.exitStatus, 0);
  EXPECT_EQ(hidden.err, "");

  for (std::string term : {"TERM=dumb", ""}) {
    ProgramOptions dumb;
    dumb.terminalColumns = 100;
    dumb.standardOutputPath = reportPath;
    if (!term.empty()) dumb.environment = {term};
    dumb.steps = {
        tell("advance 600", heldAtFirst),
        tell("release\nrelease", [](const ProgramResult& soFar) { return !soFar.err.empty(); })};
    ProgramResult plain = scanTree(dumb);
    EXPECT_EQ(plain.exitStatus, 0);
    EXPECT_NE(plain.err.find(" folders, "), std::string::npos) << term << ": " << plain.err;
    EXPECT_EQ(plain.err.find('\x1b'), std::string::npos) << term << ": " << plain.err;
    EXPECT_TRUE(finalScreen(plain.err).empty()) << term << ": " << plain.err;
  }
}

// A reader that goes away while the line is shown ends the run as SIGPIPE would, but only once
// the line is erased: killed inside the write, the run would leave it on the terminal.
TEST_F(StatusLineOnTerminal, AReaderThatGoesAwayLeavesNoLineBehind) {
  ProgramOptions options;
  options.terminalColumns = 100;
  options.environment = {"TERM=xterm"};
  ProgramStep readerGone = tell("advance 1000\nrelease\nrelease", statusShown);
  readerGone.closeOutput = true;
  options.steps = {tell("advance 600", heldAtFirst), readerGone};
  ProgramResult result = scanTree(options);
  EXPECT_EQ(result.signal, SIGPIPE);
  EXPECT_TRUE(finalScreen(result.err).empty()) << result.err;
  EXPECT_TRUE(endsWith(result.err, kBlankedLine)) << result.err;
}

// Where `received` (what a terminal got) holds a control character that no name may send: a byte
// below 0x20 other than a tab, a carriage return and the line feed that ends a row; DEL; or a
// C1 control in UTF-8 (C2 80 to C2 9F). The status line's own ESC [ J is allowed. Returns the
// offset of the first, or npos.
std::size_t firstStrayControl(const std::string& received) {
  for (std::size_t i = 0; i < received.size(); ++i) {
    auto byte = static_cast<unsigned char>(received[i]);
    bool rowEnd = byte == '\n' && i > 0 && received[i - 1] == '\r';
    bool eraseBelow = received.compare(i, kEraseBelow.size(), kEraseBelow) == 0;
    bool c1 = byte == 0xC2 && i + 1 < received.size() &&
              static_cast<unsigned char>(received[i + 1]) >= 0x80 &&
              static_cast<unsigned char>(received[i + 1]) <= 0x9F;
    if (eraseBelow) i += kEraseBelow.size() - 1;
    if (c1 || byte == 0x7F ||
        (byte < 0x20 && byte != '\t' && byte != '\r' && !rowEnd && !eraseBelow)) {
      return i;
    }
  }
  return std::string::npos;
}

// Folders named with CSI in UTF-8 (C2 9B), ESC and a line feed, as the folder argument and inside
// the tree, in a row, in an error line and on the status line, with the report and the status line
// on one terminal: each control character arrives as one "?", and a character whose UTF-8 bytes
// merely include 0x9B stays whole.
TEST_F(StatusLineOnTerminal, NamesSendNoControlCharacterToTheTerminal) {
  ProgramOptions options;
  options.terminalColumns = 100;
  options.outputOnTerminal = true;
  options.environment = {"TERM=xterm"};
  options.timeoutSeconds = 60;
  options.inProcess = [](const std::vector<std::string>& arguments, const ChildChannels& channels) {
    ScriptedTree tree;
    addFolder(tree, 0,
              u"/names\xc2\x9b"
              u"2J\x1b[H\nx",
              1);
    std::size_t held = addFolder(tree, 0,
                                 u"evil\xc2\x9b"
                                 u"2J\xc5\x9b",
                                 1);
    tree.folders[held].heldUntilRelease = 1;
    std::size_t locked = addFolder(tree, 0, u"esc\x1b]0;title\x07");
    tree.folders[locked].openError = 13;
    addFolder(tree, 0, u"lf\nrow", 1);
    return runScriptedProgram(tree, 2, arguments, channels);
  };
  options.steps = {tell("advance 600",
                        [](const ProgramResult& soFar) {
                          return soFar.events.find("held evil") != std::string::npos;
                        }),
                   tell("release", statusShown)};
  ProgramResult result = runProgram({"no", "0", "0", "0",
                                     "/names\xc2\x9b"
                                     "2J\x1b[H\nx"},
                                    options);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(firstStrayControl(result.err), std::string::npos) << result.err;
  std::string screen;
  for (const std::string& line : finalScreen(result.err)) screen += line + "\n";
  const std::string top = "/names?2J?[H?x";
  for (const std::string& line :
       {"\nGenerating stats for: " + top + "\n", "\n" + top + "/evil?2J\xc5\x9b\t",
        "\nError accessing folder: " + top + "/esc?]0;title?: (13): Permission denied\n",
        "\n" + top + "/lf?row\t", "\n" + top + "\t"}) {
    EXPECT_NE(screen.find(line), std::string::npos) << line << " on " << screen;
  }
  std::set<std::string> texts = statusTexts(result.err);
  EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
    return text.find(top + "/evil?2J\xc5\x9b") != std::string::npos;
  })) << result.err;
}

}  // namespace
