// Standard output that cannot take the report: a full device and a closed descriptor end the run
// at the first failed write with status 1, so that a lost report never passes for a whole one, and
// it says why on standard error; a reader that goes away early or at once ends it quietly, as by
// SIGPIPE. None hangs.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

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

}  // namespace
