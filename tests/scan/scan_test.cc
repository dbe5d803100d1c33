// The scan end to end: trees built in a temporary folder, the real program run on them, and every
// byte of the report compared.
#include "scan/scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "support/program.h"
#include "support/tree.h"

namespace {

constexpr std::int64_t kStampA = 1700000000;       // 11/14/23 22:13:20 UTC
constexpr std::int64_t kStampB = 1700003600;       // 11/14/23 23:13:20 UTC
constexpr std::int64_t kStampC = 1600000000;       // 09/13/20 12:26:40 UTC
const std::string kNoStamp = "01/01/01 00:00:00";  // the stamp 0, 1601-01-01 in UTC

std::string stampText(std::int64_t seconds) {
  time_t time = static_cast<time_t>(seconds);
  struct tm fields;
  gmtime_r(&time, &fields);
  char text[64];
  strftime(text, sizeof text, "%m/%d/%y %H:%M:%S", &fields);
  return text;
}

std::string row(const std::string& path, const std::string& total, const std::string& onDisk,
                std::uint64_t count, const std::string& stamp) {
  return path + "\t" + total + "\t" + onDisk + "\t" + std::to_string(count) + "\t" + stamp + "\r\n";
}

std::string errorLine(const std::string& path, const std::string& reason) {
  return "Error accessing folder: " + path + ": " + reason + "\r\n";
}

// The lines after the header, after checking that the run itself went as every run must, and
// ended with `status`.
std::string reportOf(const ProgramResult& result, int status = 0) {
  EXPECT_EQ(result.exitStatus, status);
  EXPECT_EQ(result.err, "");
  const std::string header = "path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n";
  std::size_t at = result.out.find(header);
  EXPECT_NE(at, std::string::npos) << result.out;
  return at == std::string::npos ? "" : result.out.substr(at + header.size());
}

std::string scan(const std::string& flag, const std::string& size, const std::string& depth,
                 const std::string& folder, const ProgramOptions& options = ProgramOptions()) {
  return reportOf(runProgram({flag, size, "0", depth, folder}, options));
}

// The names of a folder's entries other than "." and "..", in the order the file system lists them.
std::vector<std::string> listingOrder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* directory = opendir(folder.c_str());
  while (struct dirent* entry = directory ? readdir(directory) : nullptr) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (directory) closedir(directory);
  return names;
}

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override { top = makeTemporaryFolder(); }
  void TearDown() override { removeTree(top); }
  std::string top;
};

// Folder R holds a 1-byte file and S; S holds a 1-byte and a 4096-byte file.
void makeWorkedExample(const std::string& r) {
  makeFolder(r);
  makeFile(r + "/one", 1, kStampC);
  makeFolder(r + "/S");
  makeFile(r + "/S/one", 1, kStampA);
  makeFile(r + "/S/page", 4096, kStampB);
}

TEST_F(ScanTest, SubfolderRowPrecedesParentWithMergedTotals) {
  std::string r = top + "/R";
  makeWorkedExample(r);
  EXPECT_EQ(scan("no", "0", "0", r), row(r + "/S", "0.004 MB", "0.008 MiB", 4, stampText(kStampB)) +
                                         row(r, "0.004 MB", "0.012 MiB", 8, stampText(kStampB)));
}

TEST_F(ScanTest, DepthLimitKeepsRowsOutButTotalsWhole) {
  std::string r = top + "/R";
  makeWorkedExample(r);
  EXPECT_EQ(scan("no", "0", "1", r), row(r, "0.004 MB", "0.012 MiB", 8, stampText(kStampB)));
}

TEST_F(ScanTest, ThresholdAboveEveryFolderLeavesOnlyTheRootRowAsTyped) {
  std::string r = top + "/R";
  makeWorkedExample(r);
  // The root row names the folder exactly as typed, quotes and trailing slash included.
  EXPECT_EQ(scan("no", "12289", "0", "\"" + r + "/\""),
            row("\"" + r + "/\"", "0.004 MB", "0.012 MiB", 8, stampText(kStampB)));
}

TEST_F(ScanTest, RootThatQualifiesIsShownInDisplayFormWithoutSecondRow) {
  std::string r = top + "/R";
  makeWorkedExample(r);
  EXPECT_EQ(scan("no", "12288", "0", "\"" + r + "/\""),
            row(r + "/", "0.004 MB", "0.012 MiB", 8, stampText(kStampB)));
}

TEST_F(ScanTest, EmptyFolderCountsDotEntriesAndHasNoStamp) {
  EXPECT_EQ(scan("no", "0", "0", top), row(top, "0.000 MB", "0.000 MiB", 2, kNoStamp));
  EXPECT_EQ(scan("no", "1", "0", "\"" + top + "\""),
            row("\"" + top + "\"", "0.000 MB", "0.000 MiB", 2, kNoStamp));
}

TEST_F(ScanTest, EmptySubfoldersComeInListingOrderBeforeTheirParent) {
  makeFolder(top + "/first");
  makeFolder(top + "/second");
  std::string expected;
  for (const std::string& name : listingOrder(top)) {
    expected += row(top + "/" + name, "0.000 MB", "0.000 MiB", 2, kNoStamp);
  }
  expected += row(top, "0.000 MB", "0.000 MiB", 8, kNoStamp);
  EXPECT_EQ(scan("no", "0", "0", top), expected);
}

// Each file sits alone in a folder; the folder qualifies exactly when the threshold is at most
// the file's size rounded up to 4096 bytes.
TEST_F(ScanTest, SizeOnDiskRoundsEachFileUpToWholeClusters) {
  const struct {
    std::int64_t size, onDisk;
  } cases[] = {{0, 0}, {1, 4096}, {4095, 4096}, {4096, 4096}, {4097, 8192}, {1048577, 1052672}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    std::string folder = top + "/f" + std::to_string(c.size);
    makeFolder(folder);
    makeFile(folder + "/file", c.size, kStampA);
    std::string at = scan("no", std::to_string(c.onDisk), "0", folder);
    std::string above = scan("no", std::to_string(c.onDisk + 1), "0", "\"" + folder + "\"");
    EXPECT_EQ(at.substr(0, folder.size() + 1), folder + "\t");
    EXPECT_EQ(above.substr(0, folder.size() + 2), "\"" + folder + "\"");
  }
}

TEST_F(ScanTest, ThresholdIsTestedAgainstSizeOnDiskNotTotalSize) {
  makeFolder(top + "/tiny");
  makeFile(top + "/tiny/byte", 1, kStampA);
  EXPECT_EQ(scan("no", "4096", "2", top),
            row(top + "/tiny", "0.000 MB", "0.004 MiB", 3, stampText(kStampA)) +
                row(top, "0.000 MB", "0.004 MiB", 6, stampText(kStampA)));
}

TEST_F(ScanTest, DepthLimitsSelectLevels) {
  makeFolder(top + "/a");
  makeFolder(top + "/a/b");
  const std::string a = row(top + "/a", "0.000 MB", "0.000 MiB", 5, kNoStamp);
  const std::string b = row(top + "/a/b", "0.000 MB", "0.000 MiB", 2, kNoStamp);
  const std::string root = row(top, "0.000 MB", "0.000 MiB", 8, kNoStamp);
  EXPECT_EQ(scan("no", "0", "0", top), b + a + root);
  EXPECT_EQ(scan("no", "0", "1", top), root);
  EXPECT_EQ(scan("no", "0", "2", top), a + root);
  // No folder lies within a negative depth: the root row comes from the run.
  EXPECT_EQ(scan("no", "0", "-1", top), root);
}

TEST_F(ScanTest, OnlyTheBranchHoldingLargeFileReachesThreshold) {
  makeFolder(top + "/small");
  makeFile(top + "/small/file", 1000, kStampA);
  makeFolder(top + "/big");
  makeFolder(top + "/big/deeper");
  makeFile(top + "/big/deeper/file", 5LL << 30, kStampB);
  EXPECT_EQ(scan("no", "5GB", "0", top),
            row(top + "/big/deeper", "5.000 GB", "5.369 GiB", 3, stampText(kStampB)) +
                row(top + "/big", "5.000 GB", "5.369 GiB", 6, stampText(kStampB)) +
                row(top, "5.000 GB", "5.369 GiB", 13, stampText(kStampB)));
}

TEST_F(ScanTest, DayCutoffLeavesOldFilesOutOfSizesButNotOutOfCountOrStamp) {
  std::int64_t now = time(nullptr);
  makeFile(top + "/old", 8192, now - 30 * 86400);
  makeFile(top + "/new", 4096, now - 86400);
  makeFolder(top + "/oldOnly");
  makeFile(top + "/oldOnly/file", 4096, now - 40 * 86400);
  std::string report = reportOf(runProgram({"no", "0", "12", "0", top}));
  EXPECT_EQ(report, row(top + "/oldOnly", "0.000 MB", "0.000 MiB", 3, stampText(now - 40 * 86400)) +
                        row(top, "0.004 MB", "0.004 MiB", 8, stampText(now - 86400)));
}

// The day filter at the scan's own interface, where a cut-off can equal a file's stamp to the
// hundred nanoseconds: a file written at the cut-off instant counts, one written a unit earlier
// does not, and neither does the first once the cut-off is a unit later.
TEST_F(ScanTest, AFileWrittenAtTheCutoffInstantCounts) {
  makeFile(top + "/at", 5000);
  setModified(top + "/at", kStampA, 500000000);
  makeFile(top + "/before", 7000);
  setModified(top + "/before", kStampA, 499999900);
  const FileTime stampOfAt = (kStampA + 11644473600ULL) * 10000000ULL + 5000000ULL;
  const struct {
    FileTime cutoff;
    std::int64_t totalBytes;
  } cases[] = {{stampOfAt - 1, 12000}, {stampOfAt, 5000}, {stampOfAt + 1, 0}};
  for (const auto& c : cases) {
    ScanRules rules;
    rules.minSize = std::numeric_limits<std::int64_t>::max();  // no rows: nothing is printed
    rules.dayCutoff = c.cutoff;
    std::u16string path(top.begin(), top.end());
    ListingContextPtr listing = makeListingContext();
    ScanPtr scan = startScan(rules, path, *listing, kScanChoosesListers);
    std::vector<ReportLine> lines;
    while (takeReportLines(*scan, lines, std::chrono::milliseconds(20))) {
    }
    EXPECT_TRUE(lines.empty());
    FolderTotals totals = treeTotals(*scan);
    EXPECT_EQ(totals.totalBytes, c.totalBytes) << c.cutoff - stampOfAt;
    EXPECT_EQ(totals.entryCount, 4u);
    EXPECT_EQ(totals.latestWrite, stampOfAt);
  }
}

TEST_F(ScanTest, LinksAreCountedButNotFollowedWithNo) {
  makeFolder(top + "/target");
  makeFile(top + "/target/file", 4096, kStampA);
  makeFile(top + "/plain", 10, kStampC);
  makeLink("target", top + "/toFolder");
  makeLink("plain", top + "/toFile");
  makeLink("nowhere", top + "/dangling");
  setModified(top + "/toFile", kStampB);
  setModified(top + "/dangling", kStampC);
  // The link to the file adds its stamp (the link's own) but no size; the link to the folder
  // is a folder and adds nothing but its entry; the dangling link is a file.
  EXPECT_EQ(scan("no", "1", "1", top), row(top, "0.004 MB", "0.008 MiB", 10, stampText(kStampB)));
}

TEST_F(ScanTest, LinksAreFollowedWithYesAndAddTheirOwnSize) {
  makeFolder(top + "/target");
  makeFile(top + "/target/file", 4096, kStampA);
  makeLink("target", top + "/toFolder");
  makeLink("target/file", top + "/toFile");  // its own size is the 11 bytes of the target text
  setModified(top + "/toFile", kStampC);
  const std::string target = row(top + "/target", "0.004 MB", "0.004 MiB", 3, stampText(kStampA));
  std::string throughLink = row(top + "/toFolder", "0.004 MB", "0.004 MiB", 3, stampText(kStampA));
  std::string report = scan("yes", "0", "2", top);
  // Both the folder and the link to it are listed, in listing order, each with the full totals.
  std::string expected;
  for (const std::string& name : listingOrder(top)) {
    if (name == "target") expected += target;
    if (name == "toFolder") expected += throughLink;
  }
  expected += row(top, "0.008 MB", "0.012 MiB", 11, stampText(kStampA));
  EXPECT_EQ(report, expected);
  for (const char* flag : {"YES", "Yes"}) EXPECT_EQ(scan(flag, "0", "2", top), expected);
}

TEST_F(ScanTest, LinkBackToAncestorEndsWithOneLoopErrorAndStableTotals) {
  makeFolder(top + "/a");
  makeFile(top + "/a/file", 100, kStampA);
  makeLink("..", top + "/a/up");
  const std::string expected = errorLine(top + "/a/up", "(40): Too many levels of symbolic links") +
                               row(top + "/a", "0.000 MB", "0.004 MiB", 4, stampText(kStampA)) +
                               row(top, "0.000 MB", "0.004 MiB", 7, stampText(kStampA));
  EXPECT_EQ(scan("yes", "0", "0", top), expected);
  EXPECT_EQ(scan("yes", "0", "0", top), expected);
}

TEST_F(ScanTest, RootThatCannotBeListedGivesErrorThenZeroRootRow) {
  makeFile(top + "/file", 10, kStampA);
  const struct {
    std::string folder, reason;
  } cases[] = {{top + "/file", "(20): Not a directory"},
               {top + "/missing", "(2): No such file or directory"},
               {"", "(2): No such file or directory"}};
  for (const auto& c : cases) {
    EXPECT_EQ(reportOf(runProgram({"no", "0", "0", "0", c.folder}), 1),
              errorLine(c.folder, c.reason) + row(c.folder, "0.000 MB", "0.000 MiB", 0, kNoStamp));
  }
}

TEST_F(ScanTest, UnreadableSubfolderGivesErrorLineWhereReachedAndScanGoesOn) {
  if (std::string why = unprivilegedRunUnavailable(); !why.empty()) GTEST_SKIP() << why;
  makeFolder(top + "/a");
  makeFolder(top + "/locked");
  makeFile(top + "/locked/file", 4096, kStampA);
  makeFolder(top + "/z");
  makeFile(top + "/z/file", 4096, kStampB);
  chmod((top + "/locked").c_str(), 0);
  ProgramOptions unprivileged;
  unprivileged.unprivileged = true;
  std::string expected;
  for (const std::string& name : listingOrder(top)) {
    if (name == "a") expected += row(top + "/a", "0.000 MB", "0.000 MiB", 2, kNoStamp);
    if (name == "locked") expected += errorLine(top + "/locked", "(13): Permission denied");
    if (name == "z") expected += row(top + "/z", "0.004 MB", "0.004 MiB", 3, stampText(kStampB));
  }
  expected += row(top, "0.004 MB", "0.004 MiB", 10, stampText(kStampB));
  EXPECT_EQ(scan("no", "0", "0", top, unprivileged), expected);
}

TEST_F(ScanTest, OddNamesAppearInRowsByteForByte) {
  const std::vector<std::string> names = {"with space", "100% sure", "tab\there", "latin\xe9\xff",
                                          "back\\slash"};
  for (const std::string& name : names) makeFolder(top + "/" + name);
  std::string expected;
  for (const std::string& name : listingOrder(top)) {
    // Every byte as it is, but for a control character, which is written as "?".
    std::string shown = name == "tab\there" ? "tab?here" : name;
    expected += row(top + "/" + shown, "0.000 MB", "0.000 MiB", 2, kNoStamp);
  }
  expected += row(top, "0.000 MB", "0.000 MiB", 2 + 3 * names.size(), kNoStamp);
  EXPECT_EQ(scan("no", "0", "0", top), expected);
}

// Makes a chain of `depth` folders named "d" below `top`, relative to descriptors so that no path
// limit applies; every level also holds `leaves` leaf folders with one file each, made before "d"
// so that a memory file system, which lists the newest entry first, lists them after it: their
// folders stay wanted while the chain below is scanned, more of them than there are descriptors to
// keep them open, and must be opened again.
void makeChain(const std::string& top, int depth, int leaves) {
  int folder = open(top.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < depth; ++level) {
    for (int leaf = 0; leaf < leaves; ++leaf) {
      std::string name = "leaf" + std::to_string(leaf);
      ASSERT_EQ(mkdirat(folder, name.c_str(), 0755), 0);
      int file = openat(folder, (name + "/file").c_str(), O_WRONLY | O_CREAT, 0644);
      ASSERT_GE(file, 0);
      timespec stamps[2] = {{kStampA, 0}, {kStampA, 0}};
      ASSERT_EQ(ftruncate(file, 4096), 0);
      ASSERT_EQ(futimens(file, stamps), 0);
      close(file);
    }
    ASSERT_EQ(mkdirat(folder, "d", 0755), 0);
    int next = openat(folder, "d", O_RDONLY | O_DIRECTORY);
    close(folder);
    folder = next;
  }
  close(folder);
}

// Memory-backed where the machine has it: a disk file system takes minutes over a deep chain.
std::string memoryBackedFolder() {
  struct stat status;
  return makeTemporaryFolder(stat("/dev/shm", &status) == 0 ? "/dev/shm" : "/tmp");
}

TEST(DeepScanTest, DeepTreeReportIsTheSameWhenShortOfDescriptors) {
  constexpr int kDepth = 600;
  constexpr int kLeaves = 4;
  std::string top = memoryBackedFolder();
  makeChain(top, kDepth, kLeaves);
  std::string unlimited = scan("no", "0", "0", top);
  ProgramOptions fewDescriptors;
  fewDescriptors.shellPrefix = "ulimit -n 64;";
  EXPECT_EQ(scan("no", "0", "0", top, fewDescriptors), unlimited);
  // Every level holds ".", "..", "d" and the leaves; every leaf ".", ".." and one file.
  std::string rootRow = row(top, "9.375 MB", "9.830 MiB",
                            kDepth * (3 + kLeaves) + 2 + kDepth * kLeaves * 3, stampText(kStampA));
  EXPECT_EQ(unlimited.substr(unlimited.size() - rootRow.size()), rootRow);
  removeTree(top);
}

// The descriptors open in this process now.
std::size_t openDescriptors() {
  std::size_t count = 0;
  DIR* folder = opendir("/proc/self/fd");
  while (folder && readdir(folder)) ++count;
  if (folder) closedir(folder);
  return count;
}

// Descriptors the scan keeps open for subfolders, and those it gives up and opens again, are all
// closed by its end, whether it finishes or is stopped while it keeps many: a leak would run a
// long-lived caller out of descriptors.
TEST(DeepScanTest, NoDescriptorStaysOpenPastTheScan) {
  // More rows than wait for a taker that takes none: the second scan stops once it holds back.
  std::string top = memoryBackedFolder();
  makeChain(top, 600, 12);
  std::u16string path(top.begin(), top.end());
  ListingContextPtr listing = makeListingContext();
  std::size_t before = openDescriptors();
  std::vector<ReportLine> lines;
  {
    ScanPtr scan = startScan(ScanRules(), path, *listing, kScanChoosesListers);
    while (takeReportLines(*scan, lines, std::chrono::milliseconds(20))) {
    }
  }
  EXPECT_EQ(openDescriptors(), before);
  {
    ScanPtr scan = startScan(ScanRules(), path, *listing, 4);
    while (!progressOf(*scan).heldByTaker)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(openDescriptors(), before + 100);
    stopScan(*scan, lines);
  }
  EXPECT_EQ(openDescriptors(), before);
  removeTree(top);
}

TEST(DeepScanTest, ChainOfHundredThousandFoldersIsScannedWhole) {
  constexpr int kDepth = 100000;
  std::string chain = memoryBackedFolder();
  makeChain(chain, kDepth, 0);
  ProgramOptions fewDescriptors;
  fewDescriptors.shellPrefix = "ulimit -n 64;";
  EXPECT_EQ(scan("no", "1", "0", chain, fewDescriptors),
            row(chain, "0.000 MB", "0.000 MiB", 3 * kDepth + 2, kNoStamp));
  removeTree(chain);
}

// A folder too large for one read of its listing, with subfolders throughout, each large itself
// and leading down a chain deeper than the number of listings kept open: the big folder is left
// partway through a batch, then set aside, and what it has not yielded yet must come back whole.
TEST(LargeFolderScanTest, FolderLeftMidwayKeepsEveryEntry) {
  constexpr int kFiles = 3000;
  constexpr int kSubfolders = 12;
  constexpr int kSubfolderFiles = 400;
  constexpr int kChainDepth = 300;
  // Its listings come newest first, so the subfolders lie evenly through the big folder's batches.
  std::string top = memoryBackedFolder();
  std::string big = top + "/big";
  makeFolder(big);
  const std::string padding(50, 'x');
  for (int i = 0; i < kFiles; ++i) {
    if (i % (kFiles / kSubfolders) == 0) {
      std::string sub = big + "/sub" + std::to_string(i);
      makeFolder(sub);
      for (int j = 0; j < kSubfolderFiles; ++j) {
        makeFile(sub + "/file" + std::to_string(10000 + j) + padding, 1, kStampC);
      }
      makeChain(sub, kChainDepth, 0);
    }
    makeFile(big + "/file" + std::to_string(10000 + i) + padding, i, kStampC + i);
  }
  // In the big folder 0 + 1 + ... + 2999 bytes in 2999 clusters, and 4800 one-byte files in the
  // subfolders; every chain holds 3 entries a level and 2 at its bottom.
  std::uint64_t bigEntries = 2 + kFiles + kSubfolders * (1 + 3 + kSubfolderFiles) +
                             kSubfolders * (3 * (kChainDepth - 1) + 2);
  std::string stamp = stampText(kStampC + kFiles - 1);
  std::string expected = row(big, "4.295 MB", "31.945 MiB", bigEntries, stamp) +
                         row(top, "4.295 MB", "31.945 MiB", 3 + bigEntries, stamp);
  EXPECT_EQ(scan("no", "0", "2", top), expected);
  ProgramOptions fewDescriptors;
  fewDescriptors.shellPrefix = "ulimit -n 32;";
  EXPECT_EQ(scan("no", "0", "2", top, fewDescriptors), expected);
  removeTree(top);
}

// Stamps whose seconds lie a multiple of 64 apart, or within the same second: each row still shows
// its own folder's latest write.
TEST_F(ScanTest, EachRowShowsItsOwnStampWhateverTheRowsBefore) {
  const std::int64_t seconds[] = {kStampA, kStampA + 64, kStampA + 128, kStampA + 6400, kStampA};
  for (std::size_t i = 0; i < std::size(seconds); ++i) {
    std::string folder = top + "/f" + std::to_string(i);
    makeFolder(folder);
    makeFile(folder + "/file", 1, seconds[i]);
  }
  setModified(top + "/f4/file", kStampA, 500000000);
  std::string expected;
  for (const std::string& name : listingOrder(top)) {
    std::int64_t second = seconds[std::stoi(name.substr(1))];
    expected += row(top + "/" + name, "0.000 MB", "0.004 MiB", 3, stampText(second));
  }
  expected += row(top, "0.000 MB", "0.020 MiB", 2 + 5 * 4, stampText(kStampA + 6400));
  EXPECT_EQ(scan("no", "0", "0", top), expected);
}

}  // namespace
