// Standard output that cannot take the report: a full device and a closed descriptor end the run
// at the first failed write with status 1, so that a lost report never passes for a whole one, and
// it says why on standard error; a reader that goes away early or at once ends it quietly, as by
// SIGPIPE. And a run interrupted mid-scan keeps what it knew. None hangs.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/tree.h"

namespace {

class OutputFault : public testing::Test {
 protected:
  // Enough folders for a report well beyond the output buffer and a pipe's capacity.
  static void SetUpTestSuite() {
    bigTree = makeTemporaryFolder();
    for (int i = 0; i < 40; ++i) {
      std::string folder = bigTree + "/folder-with-a-longish-name-" + std::to_string(i);
      makeFolder(folder);
      for (int j = 0; j < 60; ++j) makeFolder(folder + "/sub-" + std::to_string(j));
    }
  }
  static void TearDownTestSuite() { removeTree(bigTree); }

  static ProgramResult scanBigTree(ProgramOptions options) {
    options.timeoutSeconds = 30;
    return runProgram({"no", "0", "0", "0", bigTree}, options);
  }

  static std::string bigTree;
};

std::string OutputFault::bigTree;

void expectLostReport(const ProgramResult& result, const std::string& reason) {
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, "treemeter: cannot write the report: " + reason + "\n");
}

const char kDeviceFull[] = "No space left on device";

// A reader that stops reading chose to stop (`treemeter ... | head`): nothing is said, and the
// run ends as du or find would.
void expectQuietEnd(const ProgramResult& result) {
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.signal, SIGPIPE);
  EXPECT_EQ(result.err, "");
}

TEST_F(OutputFault, WholeReportGoesThroughAPipe) {
  ProgramResult result = scanBigTree(ProgramOptions());
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_GT(result.out.size(), 200000u);  // so the other cases fail mid-report
}

TEST_F(OutputFault, FullDevice) {
  ProgramOptions options;
  options.standardOutputPath = "/dev/full";
  expectLostReport(scanBigTree(options), kDeviceFull);
}

TEST_F(OutputFault, FullDeviceForAShortReportAndForTheUsageText) {
  ProgramOptions options;
  options.standardOutputPath = "/dev/full";
  options.timeoutSeconds = 30;
  expectLostReport(
      runProgram({"no", "0", "0", "0", bigTree + "/folder-with-a-longish-name-0/sub-0"}, options),
      kDeviceFull);
  expectLostReport(runProgram({"no"}, options), kDeviceFull);
}

TEST_F(OutputFault, ReaderGoesAwayMidReport) {
  ProgramOptions options;
  options.closeOutputAfterBytes = 1000;
  ProgramResult result = scanBigTree(options);
  expectQuietEnd(result);
  EXPECT_EQ(result.out.compare(0, bannerLine().size(), bannerLine()), 0);
}

TEST_F(OutputFault, ReaderGoesAwayBeforeReadingAnything) {
  ProgramOptions options;
  options.closeOutputAfterBytes = 0;
  expectQuietEnd(scanBigTree(options));
}

TEST_F(OutputFault, StandardOutputClosed) {
  ProgramOptions options;
  options.shellPrefix = "exec 1>&-;";
  expectLostReport(scanBigTree(options), "Bad file descriptor");
}

// A report redirected to a file and a scan interrupted after three seconds: the file had
// rows before the interrupt (they reach it within a second), and keeps every line known then,
// whole; the status line is gone from the terminal, and the run ends by the signal.
TEST(InterruptedScan, KeepsTheLinesItKnewWholeAndEndsByTheSignal) {
  // Each level holds links to the next, so that following links makes 7^7 ways down: seconds.
  std::string maze = makeTemporaryFolder();
  for (int level = 0; level <= 7; ++level) {
    std::string folder = maze + "/L" + std::to_string(level);
    makeFolder(folder);
    makeFile(folder + "/file", 100, 1700000000);
    for (int link = 0; level < 7 && link < 7; ++link) {
      makeLink("../L" + std::to_string(level + 1), folder + "/link" + std::to_string(link));
    }
  }
  ProgramOptions options;
  options.standardOutputPath = maze + "/report.tsv";
  options.terminalColumns = 80;
  options.interruptAfterMilliseconds = 3000;
  options.timeoutSeconds = 60;
  ProgramResult result = runProgram({"yes", "0", "0", "0", maze + "/L0"}, options);
  std::stringstream file;
  file << std::ifstream(options.standardOutputPath).rdbuf();
  std::string report = file.str();
  removeTree(maze);

  EXPECT_EQ(result.signal, SIGINT);
  std::string head = reportHead(maze + "/L0", "0.000 MB");
  EXPECT_GT(result.outputBytesWhenInterrupted, static_cast<long>(head.size()));
  EXPECT_GE(static_cast<long>(report.size()), result.outputBytesWhenInterrupted);
  ASSERT_EQ(report.compare(0, head.size(), head), 0) << report;
  // Every folder below L0 but the last level has seven, and each row comes after the rows of its
  // seven subfolders: a row known but lost on the way leaves a folder short of one.
  std::size_t rows = 0;
  std::vector<int> rowsSoFarAtLevel(9, 0);
  for (std::size_t at = head.size(); at < report.size(); ++rows) {
    std::size_t end = report.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "a line cut short: " << report.substr(at);
    std::string row = report.substr(at, end - at);
    at = end + 2;
    ASSERT_EQ(std::count(row.begin(), row.end(), '\t'), 4) << row;
    std::string path = row.substr(0, row.find('\t'));
    std::size_t level = 0;
    for (std::size_t link = path.find("/link"); link != std::string::npos;
         link = path.find("/link", link + 1)) {
      ++level;
    }
    if (level < 7) {
      ASSERT_EQ(rowsSoFarAtLevel[level + 1], 7) << "before " << row;
    }
    rowsSoFarAtLevel[level + 1] = 0;
    ++rowsSoFarAtLevel[level];
  }
  EXPECT_GT(rows, 0u);
  // The status line's last drawing blanked it, from the start of its row down.
  const std::string kBlankedLine = "\r \x1b[J\r";
  ASSERT_GE(result.err.size(), kBlankedLine.size());
  EXPECT_EQ(result.err.substr(result.err.size() - kBlankedLine.size()), kBlankedLine);
}

}  // namespace
