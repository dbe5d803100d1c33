// The scan's threads in-process, over a scripted listing: fixed numbers of listers and the scan's
// own choice, a taker of lines that stalls, listings that wait on the system or for one another,
// and a folder replaced while its handle was given up.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "scan/scan.h"
#include "scan/scripted_listing.h"

namespace {

using std::chrono::milliseconds;

// No line for this long means the scan stalled.
constexpr milliseconds kStalledAfter(10000);

// The line as text, its path formed from the lines before it.
std::string lineText(PathFormer& paths, const ReportLine& line) {
  const std::u16string& path = formPath(paths, line.folder);
  std::string text(path.begin(), path.end());
  if (line.isError) return text + " error " + std::to_string(line.errorCode);
  return text + " " + std::to_string(line.totals.totalBytes) + " " +
         std::to_string(line.totals.bytesOnDisk) + " " + std::to_string(line.totals.entryCount) +
         " " + std::to_string(line.totals.latestWrite);
}

struct ScanOutcome {
  std::vector<std::string> lines;
  FolderTotals totals;
  bool finished = false;
  ListingRecord record;
};

std::u16string numbered(std::u16string_view prefix, int number) {
  std::string digits = std::to_string(number);
  return std::u16string(prefix) + std::u16string(digits.begin(), digits.end());
}

// Waits until the scan waits for its taker: false when it does not within kStalledAfter.
bool waitUntilHeldByTaker(Scan& scan) {
  auto start = std::chrono::steady_clock::now();
  while (!progressOf(scan).heldByTaker) {
    if (std::chrono::steady_clock::now() - start > kStalledAfter) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

// Takes the scan's lines as they come, until it is finished; false when no line came for
// kStalledAfter (the scan stalled).
bool takeEveryLine(Scan& scan, std::vector<ReportLine>& lines) {
  auto lastLine = std::chrono::steady_clock::now();
  for (std::size_t before = 0; takeReportLines(scan, lines, milliseconds(20));) {
    auto now = std::chrono::steady_clock::now();
    if (lines.size() > before) lastLine = now;
    before = lines.size();
    if (now - lastLine > kStalledAfter) return false;
  }
  return true;
}

// Scans the scripted tree, taking every line as it comes; with `lateTaker`, taking nothing until
// the listers have done all they can without the taker.
ScanOutcome scanScripted(const ScriptedTree& tree, std::size_t listers, bool lateTaker = false,
                         const ScanRules& rules = ScanRules()) {
  ListingContextPtr listing = makeScriptedListing(tree);
  ScanPtr scan = startScan(rules, tree.folders[0].name, *listing, listers);
  ScanOutcome outcome;
  if (lateTaker && !waitUntilHeldByTaker(*scan)) return outcome;
  std::vector<ReportLine> lines;
  outcome.finished = takeEveryLine(*scan, lines);
  PathFormer paths;
  for (const ReportLine& line : lines) outcome.lines.push_back(lineText(paths, line));
  if (!outcome.finished) return outcome;
  outcome.totals = treeTotals(*scan);
  scan.reset();
  outcome.record = recordOf(*listing);
  return outcome;
}

// A tree of 8,000 folders or so, wide and deep, some of them failing: with a row for every folder,
// more lines than the scan lets wait for a taker.
ScriptedTree largeTree() {
  ScriptedTree tree;
  addFolder(tree, 0, u"/top", 3);
  for (int branch = 0; branch < 40; ++branch) {
    std::size_t folder = addFolder(tree, 0, numbered(u"b", branch), 2);
    for (int leaf = 0; leaf < 150; ++leaf) {
      std::size_t sub = addFolder(tree, folder, numbered(u"l", leaf), 1);
      if (leaf % 37 == 0) tree.folders[sub].openError = 13;
      if (leaf % 5 == 0) addFolder(tree, sub, u"deep", 4);
    }
  }
  return tree;
}

// The stall of a scan whose taker fell behind: listers that filled the window were never woken
// once the report moved on.
TEST(ScanThreads, LinesAreTheOneListerLinesWhateverTheListersAndHowLateTheyAreTaken) {
  ScriptedTree tree = largeTree();
  ScanOutcome expected = scanScripted(tree, 1);
  ASSERT_TRUE(expected.finished);
  ASSERT_GT(expected.lines.size(), 4096u + 2048u);
  for (std::size_t listers :
       {std::size_t{1}, std::size_t{2}, std::size_t{16}, std::size_t{64}, kScanChoosesListers}) {
    ScanOutcome outcome = scanScripted(tree, listers, true);
    ASSERT_TRUE(outcome.finished) << listers << " listers stalled after " << outcome.lines.size()
                                  << " lines";
    EXPECT_EQ(outcome.lines, expected.lines) << listers << " listers";
    EXPECT_EQ(outcome.totals.entryCount, expected.totals.entryCount);
    EXPECT_EQ(outcome.totals.totalBytes, expected.totals.totalBytes);
  }
}

// Lines piling up in memory while nobody takes them.
TEST(ScanThreads, ATakerThatTakesNothingHoldsTheScanBack) {
  ScriptedTree tree;
  addFolder(tree, 0, u"/top");
  for (int leaf = 0; leaf < 14000; ++leaf) addFolder(tree, 0, numbered(u"f", leaf));
  ListingContextPtr listing = makeScriptedListing(tree);
  ScanPtr scan = startScan(ScanRules(), u"/top", *listing, 2);
  ASSERT_TRUE(waitUntilHeldByTaker(*scan));
  EXPECT_LT(recordOf(*listing).foldersRead, 10000u);
  std::vector<ReportLine> lines;
  EXPECT_TRUE(takeEveryLine(*scan, lines));
  EXPECT_EQ(lines.size(), 14001u);
}

// Listers that only ever list the folder the report waits for keep one listing in flight.
TEST(ScanThreads, ListersListAheadOfTheReport) {
  ScriptedTree tree;
  addFolder(tree, 0, u"/top");
  for (int leaf = 0; leaf < 16; ++leaf) {
    std::size_t folder = addFolder(tree, 0, numbered(u"f", leaf));
    tree.folders[folder].waitsForCompany = true;
  }
  tree.companyWanted = 8;
  ListingContextPtr listing = makeScriptedListing(tree);
  ScanPtr scan = startScan(ScanRules(), u"/top", *listing, 16);
  std::vector<ReportLine> lines;
  EXPECT_TRUE(takeEveryLine(*scan, lines));
  EXPECT_EQ(lines.size(), 17u);
  EXPECT_GE(recordOf(*listing).mostInFlight, 8u);
}

// A scan that chooses for itself keeps more listings in flight than there are processors while
// the storage serves them all at once and they take as long however many are in flight (a file
// server): so the listings' times reach the count, and its limit the listers. Where a storage
// queues them instead, the count's own tests show it does not grow.
TEST(ScanThreads, TheScanKeepsMoreListingsInFlightWhileTheStorageServesThemAtOnce) {
  std::size_t processors = std::max(1u, std::thread::hardware_concurrency());
  ScriptedTree tree;
  addFolder(tree, 0, u"/top");
  for (std::size_t leaf = 0; leaf < 200 * processors; ++leaf) {
    std::size_t folder = addFolder(tree, 0, numbered(u"f", static_cast<int>(leaf)), 2);
    tree.folders[folder].delay = std::chrono::microseconds(2000);
  }
  ListingContextPtr listing = makeScriptedListing(tree);
  ScanPtr scan = startScan(ScanRules(), u"/top", *listing, kScanChoosesListers);
  std::vector<ReportLine> lines;
  EXPECT_TRUE(takeEveryLine(*scan, lines));
  EXPECT_EQ(lines.size(), 200 * processors + 1);
  EXPECT_GT(recordOf(*listing).mostInFlight, processors);
}

// A folder whose handle was given up for want of handles is opened again by a longer way; if
// another folder stands in its place by then, its subfolders are not listed as if they were its.
TEST(ScanThreads, AFolderReplacedWhileItsHandleWasGivenUpIsNotListedAgain) {
  ScriptedTree tree;
  tree.handleBudget = 4;
  addFolder(tree, 0, u"/top");
  std::size_t replaced = addFolder(tree, 0, u"p");
  tree.folders[replaced].replacedOnceListed = true;
  // A chain whose every level waits for a second subfolder: its handles outnumber the budget.
  std::size_t level = replaced;
  for (int depth = 0; depth < 8; ++depth) {
    std::size_t next = addFolder(tree, level, u"c");
    addFolder(tree, level, u"leaf", 1);
    level = next;
  }
  std::size_t later = addFolder(tree, replaced, u"q", 5);
  addFolder(tree, later, u"r", 5);
  ScanOutcome outcome = scanScripted(tree, 1);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(std::count(outcome.lines.begin(), outcome.lines.end(), "/top/p/q error 2"), 1)
      << testing::PrintToString(outcome.lines);
  for (const std::string& line : outcome.lines)
    EXPECT_EQ(line.find("/top/p/q/r"), std::string::npos);
  EXPECT_GT(outcome.record.openedByLongWay, 0u);
}

// Reparse points whose entries tell no identity, as on Windows, followed with "yes": the scan looks
// the identities up by path, a lookup taking time without any lock, while other listers list.
// A race between a lookup's answer and a lister reading it, as there was, shows under
// ThreadSanitizer; a folder that leads back to the top is not listed again; and the report is the
// one lister's.
TEST(ScanThreads, ReparsePointsWithoutIdentitiesAreLookedUpAndLoopsRuledOut) {
  ScriptedTree tree;
  addFolder(tree, 0, u"/top", 1);
  std::size_t sub = addFolder(tree, 0, u"sub", 1);
  for (int link = 0; link < 32; ++link) {
    std::size_t folder = addFolder(tree, sub, numbered(u"r", link), 2);
    tree.folders[folder].reparsePoint = true;
  }
  std::size_t back = addFolder(tree, sub, u"back", 5);
  tree.folders[back].reparsePoint = true;
  tree.folders[back].sameAs = 0;
  tree.lookupDelay = std::chrono::microseconds(2000);
  ScanRules followLinks;
  followLinks.processReparsePoints = true;
  ScanOutcome expected = scanScripted(tree, 1, false, followLinks);
  ASSERT_TRUE(expected.finished);
  EXPECT_EQ(std::count(expected.lines.begin(), expected.lines.end(), "/top/sub/back error 40"), 1)
      << testing::PrintToString(expected.lines);
  EXPECT_EQ(expected.lines.size(), 1 + 32 + 1 + 1u);
  ScanOutcome outcome = scanScripted(tree, 16, false, followLinks);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.lines, expected.lines);
  EXPECT_GT(outcome.record.identitiesLookedUp, 0u);
}

// Handles kept open for subfolders, given up for want of room, and opened again, all go by the
// scan's end: whether it finishes, or is stopped while listings are out and handles are kept.
TEST(ScanThreads, NoHandleStaysOpenPastTheScan) {
  ScriptedTree tree = largeTree();
  tree.handleBudget = 8;
  ScanOutcome finished = scanScripted(tree, 4);
  ASSERT_TRUE(finished.finished);
  EXPECT_EQ(finished.record.handlesOpen, 0u);
  EXPECT_GT(finished.record.mostHandles, 1u);

  tree.folders[tree.folders.size() / 2].heldUntilRelease = 1;
  ListingContextPtr listing = makeScriptedListing(tree);
  ScanPtr scan = startScan(ScanRules(), tree.folders[0].name, *listing, 4);
  std::vector<ReportLine> lines;
  while (recordOf(*listing).foldersRead < tree.folders.size() / 4) {
    ASSERT_TRUE(takeReportLines(*scan, lines, milliseconds(20)));
  }
  stopScan(*scan, lines);
  EXPECT_GT(recordOf(*listing).handlesOpen, 0u);
  releaseHeldFolders(*listing);
  scan.reset();
  EXPECT_EQ(recordOf(*listing).handlesOpen, 0u);
}

}  // namespace
