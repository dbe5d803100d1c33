// Trees that are not plain folders and files: the system's own /proc, /sys and /dev, and a tree
// holding pipes, sockets, links that dangle or loop, folders that cannot be listed or searched,
// odd names, and sizes and stamps at the edge of what a file system may report. No crash, status
// 0, nothing on standard error, every line well-formed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <climits>
#include <ostream>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/report_check.h"
#include "support/tree.h"

namespace {

ProgramResult runChecked(const std::vector<std::string>& arguments,
                         ProgramOptions options = ProgramOptions()) {
  options.timeoutSeconds = 60;
  ProgramResult result = runProgram(arguments, options);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << "signal " << result.signal;
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(isWellFormedReport(result.out));
  return result;
}

struct SystemTree {
  const char* name;
  std::vector<std::string> arguments;
};

void PrintTo(const SystemTree& tree, std::ostream* out) {
  *out << tree.name;
}

class SystemTrees : public testing::TestWithParam<SystemTree> {};

TEST_P(SystemTrees, ScanEndsWithAWellFormedReport) {
  if (access(GetParam().arguments.back().c_str(), R_OK) != 0) GTEST_SKIP() << "not present here";
  runChecked(GetParam().arguments);
}

// Following no links and crossing no file systems keeps each of these bounded. (/sys and /proc
// with links followed are not: their links lead from every device to every other.)
INSTANTIATE_TEST_SUITE_P(
    Folders, SystemTrees,
    testing::Values(SystemTree{"ProcSelf", {"no", "0", "0", "0", "/proc/self"}},
                    SystemTree{"ProcSelfDepthTwo", {"no", "0", "0", "2", "/proc/self"}},
                    SystemTree{"Sys", {"no", "1GB", "0", "0", "/sys"}},
                    SystemTree{"Dev", {"no", "0", "0", "0", "/dev"}},
                    SystemTree{"DevFollowingLinks", {"yes", "0", "0", "2", "/dev"}}),
    [](const testing::TestParamInfo<SystemTree>& info) { return std::string(info.param.name); });

// With "no" a mount point is not entered, as du -x: a sparse file of 2^50 bytes in /dev/shm, a
// tmpfs mounted inside /dev, must stay out of /dev's total.
TEST(MountPoint, NoDoesNotCrossIntoAFileSystemMountedInside) {
  struct stat dev, shm;
  if (stat("/dev", &dev) != 0 || lstat("/dev/shm", &shm) != 0 || !S_ISDIR(shm.st_mode) ||
      shm.st_dev == dev.st_dev) {
    GTEST_SKIP() << "/dev/shm is not a separate file system mounted below /dev";
  }
  constexpr std::int64_t kHuge = std::int64_t{1} << 50;
  std::string folder = makeTemporaryFolder("/dev/shm");
  makeFile(folder + "/sparse", kHuge);
  ProgramResult result = runChecked({"no", "0", "0", "1", "/dev"});
  removeTree(folder);
  bool complete = false;
  std::vector<std::string> lines = splitReportLines(result.out, complete);
  ASSERT_FALSE(lines.empty());
  // Only the root row: "/dev", a tab, then the total with its unit, such as "0.000 MB".
  const std::string& rootRow = lines.back();
  ASSERT_EQ(rootRow.compare(0, 5, "/dev\t"), 0) << rootRow;
  std::size_t blank = rootRow.find(' ');
  ASSERT_NE(blank, std::string::npos) << rootRow;
  double total = std::stod(rootRow.substr(5, blank - 5));
  std::string unit = rootRow.substr(blank + 1, 2);
  double unitBytes = unit == "TB" ? 0x1p40 : unit == "GB" ? 0x1p30 : 0x1p20;
  EXPECT_LT(total * unitBytes, kHuge / 2.0) << rootRow;
}

class SpecialTree : public testing::Test {
 protected:
  void SetUp() override { root = makeTemporaryFolder(); }
  void TearDown() override { removeTree(root); }
  std::string root;
};

void makeSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

TEST_F(SpecialTree, PipesSocketsAndLinksThatDangleOrLoop) {
  makeFolder(root + "/a");
  makeFolder(root + "/a/b");
  ASSERT_EQ(mkfifo((root + "/a/pipe").c_str(), 0644), 0);
  makeSocket(root + "/a/socket");
  makeLink("nowhere", root + "/a/dangling");
  makeLink("self", root + "/a/self");
  makeLink("..", root + "/a/b/up");
  makeLink("/dev/null", root + "/a/device");
  makeLink("/proc/self/fd/0", root + "/a/standard-input");
  for (const char* follow : {"no", "yes"}) {
    ProgramResult result = runChecked({follow, "0", "0", "0", root});
    // The link back to an ancestor is not followed round again.
    bool loopLine = result.out.find("Error accessing folder: " + root +
                                    "/a/b/up: (40): Too many levels of symbolic links\r\n") !=
                    std::string::npos;
    EXPECT_EQ(loopLine, std::string(follow) == "yes") << result.out;
  }
}

// Links into the system's own trees, followed with "yes": the links of /proc and /sys lead from
// every process and device to every other, so a scan that entered them would never end. Each
// link is an entry of its folder and nothing more.
TEST_F(SpecialTree, LinksIntoKernelFileSystemsAreCountedButNotEntered) {
  makeLink("/proc", root + "/proc");
  makeLink("/proc/self", root + "/self");
  makeLink("/sys/class", root + "/class");
  ProgramResult result = runChecked({"yes", "0", "0", "0", root});
  std::string rootRow = root + "\t0.000 MB\t0.000 MiB\t5\t01/01/01 00:00:00\r\n";
  EXPECT_EQ(result.out.substr(result.out.find("latest file stamp\r\n") + 19), rootRow);
}

TEST_F(SpecialTree, FoldersThatCannotBeListedOrSearched) {
  if (std::string why = unprivilegedRunUnavailable(); !why.empty()) GTEST_SKIP() << why;
  makeFolder(root + "/closed");
  makeFolder(root + "/closed/inside");
  makeFolder(root + "/listable-only");
  makeFolder(root + "/listable-only/inside");
  makeFile(root + "/listable-only/file", 100);
  chmod((root + "/closed").c_str(), 0);
  chmod((root + "/listable-only").c_str(), 0444);
  ProgramOptions options;
  options.unprivileged = true;
  for (const char* follow : {"no", "yes"}) {
    ProgramResult result = runChecked({follow, "0", "0", "0", root}, options);
    EXPECT_NE(
        result.out.find("Error accessing folder: " + root + "/closed: (13): Permission denied"),
        std::string::npos)
        << result.out;
  }
}

TEST_F(SpecialTree, OddNamesPassThroughAndKeepTheirRows) {
  std::vector<std::string> names = {"%s%n%d%1.3f",
                                    "back\\slash",
                                    "-leading-dash",
                                    " blank ",
                                    "\xff\xfe not UTF-8 \xc3\x28",
                                    "?*[]",
                                    std::string(255, 'n'),
                                    "quote\"d"};
  for (const std::string& name : names) {
    makeFolder(root + "/" + name);
    makeFile(root + "/" + name + "/file", 3);
  }
  ProgramResult result = runChecked({"no", "0", "0", "0", root});
  for (const std::string& name : names) {
    EXPECT_NE(result.out.find("\r\n" + root + "/" + name + "\t0.000 MB\t0.004 MiB\t3\t"),
              std::string::npos)
        << name;
  }
}

// Tabs and line ends in a name are written as "?", so that the name adds no column and no line:
// the row keeps the four columns after its path.
TEST_F(SpecialTree, TabsAndLineEndsInNamesAreWrittenAsQuestionMarks) {
  makeFolder(root + "/tab\there\r\nand line");
  ProgramOptions options;
  options.timeoutSeconds = 30;
  ProgramResult result = runProgram({"no", "0", "0", "0", root}, options);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");
  std::string start = "\r\n" + root + "/tab?here??and line\t";
  std::size_t row = result.out.find(start);
  ASSERT_NE(row, std::string::npos);
  std::size_t columns = row + start.size() - 1;
  std::string rest = result.out.substr(columns, result.out.find("\r\n", columns) - columns);
  EXPECT_TRUE(isReportRow("path" + rest)) << rest;
}

// Sizes and stamps that a file system may report but that no real disk holds: three sparse
// files of the largest size (tmpfs allows them) and a stamp at the largest time. Totals stop at
// the largest 64-bit value instead of wrapping; the stamp stops at the last instant a FileTime
// holds.
TEST(ExtremeValues, SizesAndStampsAtTheEdgeSaturate) {
  struct statfs fileSystem;
  if (statfs("/dev/shm", &fileSystem) != 0 || fileSystem.f_type != 0x01021994 /* tmpfs */) {
    GTEST_SKIP() << "needs tmpfs at /dev/shm";
  }
  char pattern[] = "/dev/shm/treemeter-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string root = pattern;
  makeFolder(root + "/huge");
  for (const char* name : {"/huge/1", "/huge/2", "/huge/3"}) {
    int fd = open((root + name).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, LLONG_MAX), 0);
    close(fd);
  }
  setModified(root + "/huge/1", LLONG_MAX);
  ProgramResult result = runChecked({"no", "0", "0", "0", root});
  EXPECT_NE(result.out.find("\r\n" + root +
                            "/huge\t8388608.000 TB\t9223372.037 TiB\t5\t09/14/28 "
                            "02:48:05\r\n"),
            std::string::npos)
      << result.out;
  removeTree(root);
}

}  // namespace
