// The run interrupted mid-scan: it keeps what it knew, whole, hands it to the system and ends by
// the signal. The run goes over a scripted tree held at chosen folders, by a clock the test moves,
// so that what is known and what has been handed over when the interrupt comes is the test's
// doing, not the machine's speed.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/scripted_run.h"

namespace {

constexpr char kTop[] = "/interrupted";

std::u16string numbered(char16_t letter, int number) {
  return std::u16string(1, letter) + static_cast<char16_t>(u'0' + number);
}

// One lister, so that the scan reads one folder at a time in the report's order: g0 (held until
// the first release), a0 to a6 with seven subfolders each, x holding g1 (held until the second),
// and c0 to c2, c1 holding h (held until the third). h is found only once the lines up to c0's
// are known: the scan reaching h tells the test so.
ScriptedTree interruptedTree() {
  ScriptedTree tree;
  addFolder(tree, 0, u"/interrupted", 1);
  std::size_t g0 = addFolder(tree, 0, u"g0", 2);
  tree.folders[g0].heldUntilRelease = 1;
  for (int sub = 0; sub < 7; ++sub) {
    std::size_t folder = addFolder(tree, 0, numbered(u'a', sub), 1);
    for (int leaf = 0; leaf < 7; ++leaf) addFolder(tree, folder, numbered(u'b', leaf), 3);
  }
  std::size_t x = addFolder(tree, 0, u"x");
  std::size_t g1 = addFolder(tree, x, u"g1", 4);
  tree.folders[g1].heldUntilRelease = 2;
  for (int sub = 0; sub < 3; ++sub) addFolder(tree, 0, numbered(u'c', sub), 1);
  std::size_t h = addFolder(tree, x + 3, u"h");
  tree.folders[h].heldUntilRelease = 3;
  return tree;
}

ProgramResult scanInterruptedTree(ProgramOptions options) {
  options.timeoutSeconds = 60;
  options.inProcess = [](const std::vector<std::string>& arguments, const ChildChannels& channels) {
    return runScriptedProgram(interruptedTree(), 1, arguments, channels);
  };
  return runProgram({"no", "0", "0", "0", kTop}, options);
}

std::string fileContents(const std::string& path) {
  std::stringstream file;
  file << std::ifstream(path, std::ios::binary).rdbuf();
  return file.str();
}

bool holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A report redirected to a file and a scan interrupted as it waits at h, a second of its clock
// after it began: the file had g0's row before the interrupt (the report is handed over once a
// second), and keeps every line known then, whole and in order: the rows of a0 to a6 (written,
// not yet handed over) and those of g1, x and c0 (known, and taken by the writer in the pass that
// sees the interrupt: it was held until then). The status line is gone from the terminal, and the
// run ends by the signal.
TEST(InterruptedScan, KeepsTheLinesItKnewWholeAndEndsByTheSignal) {
  const std::string reportPath = testing::TempDir() + "interrupted-report";
  ProgramOptions whole;
  whole.standardOutputPath = reportPath;
  whole.steps = {ProgramStep{nullptr, 0, 0, "release\nrelease\nrelease"}};
  ASSERT_EQ(scanInterruptedTree(whole).exitStatus, 0);
  const std::string full = fileContents(reportPath);
  const std::string lastKnown = std::string(kTop) + "/c0\t";

  auto event = [](const std::string& line) {
    return [line](const ProgramResult& soFar) { return holds(soFar.events, line + "\n"); };
  };
  ProgramOptions options;
  options.standardOutputPath = reportPath;
  options.terminalColumns = 80;
  options.environment = {"TERM=xterm"};
  ProgramStep interrupt = {event("held h"), 0, SIGINT, "await-interrupt\nthaw"};
  options.steps = {
      // Once the scan has begun, and so has the time since the last hand-over.
      {event("held g0"), 0, 0, "advance 600\nrelease"},
      // g0's row is known by the time the scan reaches g1: the next pass of the writer takes it
      // and hands the report over.
      {event("held g1"), 0, 0, "advance 500"},
      {[&](const ProgramResult&) { return holds(fileContents(reportPath), "/g0\t"); }, 0, 0,
       "freeze"},
      {event("frozen"), 0, 0, "release"},
      interrupt};
  ProgramResult result = scanInterruptedTree(options);
  std::string report = fileContents(reportPath);

  EXPECT_EQ(result.signal, SIGINT);
  std::string head = reportHead(kTop, "0.000 MB");
  EXPECT_GT(result.outputBytesWhenInterrupted, static_cast<long>(head.size()));
  EXPECT_GE(static_cast<long>(report.size()), result.outputBytesWhenInterrupted);
  ASSERT_EQ(report.compare(0, head.size(), head), 0) << report;
  for (std::size_t at = head.size(); at < report.size();) {
    std::size_t end = report.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "a line cut short: " << report.substr(at);
    std::string row = report.substr(at, end - at);
    EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 4) << row;
    at = end + 2;
  }
  // Up to c0's row, the report a whole scan writes, and nothing after it.
  std::size_t lastKnownRow = full.find(lastKnown);
  ASSERT_NE(lastKnownRow, std::string::npos) << full;
  EXPECT_EQ(report, full.substr(0, full.find("\r\n", lastKnownRow) + 2));
  // The status line's last drawing blanked it, from the start of its row down.
  const std::string kBlankedLine = "\r \x1b[J\r";
  ASSERT_GE(result.err.size(), kBlankedLine.size());
  EXPECT_EQ(result.err.substr(result.err.size() - kBlankedLine.size()), kBlankedLine);
}

}  // namespace
