// A tree that another process changes while Treemeter scans it: folders appear, vanish, move,
// turn into files and back, and a folder trades places with a link. Every run ends normally with a
// well-formed report, and a scan that follows no links never leaves the tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "support/program.h"
#include "support/report_check.h"
#include "support/tree.h"

namespace {

constexpr int kDeepChain = 40;
// How long each test keeps running the program against the changing tree, and how many runs it
// makes at the least, however slow the machine.
constexpr double kChurnSeconds = 3.0;
constexpr int kLeastRuns = 3;

double secondsSince(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
}

// Runs `change` over and over in a child process until it is stopped (or after a minute, should
// the test die first).
pid_t startChanging(const std::function<void(long)>& change) {
  pid_t child = fork();
  if (child == 0) {
    alarm(60);
    for (long round = 0;; ++round) change(round);
  }
  return child;
}

void stopChanging(pid_t child) {
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

// One round of changes: folders made and removed at several depths, a folder moved between two
// parents, a folder replaced by a file and back, a deep chain built and torn down.
void changeTree(const std::string& root, long round) {
  std::string made = root + "/churn/d" + std::to_string(round % 8);
  if (mkdir(made.c_str(), 0755) == 0) {
    mkdir((made + "/sub").c_str(), 0755);
    close(open((made + "/sub/file").c_str(), O_CREAT | O_WRONLY, 0644));
  } else {
    unlink((made + "/sub/file").c_str());
    rmdir((made + "/sub").c_str());
    rmdir(made.c_str());
  }
  const char* from = round % 2 ? "/moving/a/x" : "/moving/b/x";
  const char* to = round % 2 ? "/moving/b/x" : "/moving/a/x";
  rename((root + from).c_str(), (root + to).c_str());
  std::string flip = root + "/flip/e";
  if (rmdir(flip.c_str()) == 0) {
    close(open(flip.c_str(), O_CREAT | O_WRONLY, 0644));
  } else {
    unlink(flip.c_str());
    mkdir(flip.c_str(), 0755);
  }
  std::string chain = root + "/deep";
  if (round % 4 == 0) {
    for (int i = 0; i < kDeepChain; ++i) mkdir((chain += "/c").c_str(), 0755);
  } else if (round % 4 == 2) {
    for (int i = 0; i < kDeepChain; ++i) chain += "/c";
    for (int i = 0; i < kDeepChain; ++i) {
      rmdir(chain.c_str());
      chain.resize(chain.size() - 2);
    }
  }
}

class ChangingTree : public testing::Test {
 protected:
  void SetUp() override {
    root = makeTemporaryFolder();
    for (const char* folder : {"/churn", "/moving", "/moving/a", "/moving/b", "/moving/a/x",
                               "/moving/a/x/y", "/flip", "/flip/e", "/deep", "/still"}) {
      makeFolder(root + folder);
    }
    makeFile(root + "/moving/a/x/y/file", 5000);
    makeFile(root + "/still/file", 10000);
  }
  void TearDown() override { removeTree(root); }

  // Runs the program against the tree again and again while it changes, checking every run.
  void scanWhileChanging(const std::vector<std::string>& arguments, const std::string& shellPrefix,
                         const std::function<void(long)>& change,
                         const std::function<void(const std::string&)>& checkOutput = nullptr) {
    pid_t changer = startChanging(change);
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int runs = 0;
    ProgramOptions options;
    options.shellPrefix = shellPrefix;
    options.timeoutSeconds = 30;
    while ((secondsSince(start) < kChurnSeconds || runs < kLeastRuns) && !HasFailure()) {
      ProgramResult result = runProgram(arguments, options);
      ++runs;
      EXPECT_FALSE(result.timedOut);
      EXPECT_EQ(result.exitStatus, 0) << "signal " << result.signal;
      EXPECT_EQ(result.err, "");
      EXPECT_TRUE(isWellFormedReport(result.out));
      if (checkOutput) checkOutput(result.out);
    }
    stopChanging(changer);
  }

  std::string root;
};

TEST_F(ChangingTree, EveryRunEndsWithAWellFormedReport) {
  auto change = [this](long round) { changeTree(root, round); };
  scanWhileChanging({"no", "0", "0", "0", root}, "", change);
}

TEST_F(ChangingTree, FollowingLinksAndShortOfDescriptors) {
  // Few descriptors make the scan set listings aside and reopen them while the tree changes.
  makeLink("../still", root + "/churn/link");
  auto change = [this](long round) { changeTree(root, round); };
  scanWhileChanging({"yes", "0", "0", "0", root}, "ulimit -n 12;", change);
}

// A folder that trades places with a link to a tree outside, over and over: a scan that follows
// no links must never list the outside tree, however the exchange falls between listing a
// folder and opening it.
TEST_F(ChangingTree, AScanThatFollowsNoLinksNeverLeavesTheTree) {
  std::string outside = makeTemporaryFolder();
  makeFolder(outside + "/outside-only");
  makeFolder(root + "/swap");
  makeFolder(root + "/swap/one");
  makeFolder(root + "/swap/one/inside-only");
  makeLink(outside, root + "/swap/two");
  std::string one = root + "/swap/one";
  std::string two = root + "/swap/two";
  auto exchange = [&](long) {
    renameat2(AT_FDCWD, one.c_str(), AT_FDCWD, two.c_str(), RENAME_EXCHANGE);
  };
  auto noOutsideRow = [](const std::string& out) {
    EXPECT_EQ(out.find("outside-only"), std::string::npos) << out;
  };
  scanWhileChanging({"no", "0", "0", "0", root + "/swap"}, "", exchange, noOutsideRow);
  removeTree(outside);
}

}  // namespace
