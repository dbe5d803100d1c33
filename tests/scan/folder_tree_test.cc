// The tree of folders in flight, played through without threads or a file system: generated
// trees whose listings finish in scripted orders, as many listers would finish them. Whatever the
// order, the report must be the one a scan of one folder at a time gives, line for line, and the
// folders handed out ahead of the report must stay within the window.
#include "scan/folder_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "paths/paths.h"

namespace {

constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();

// A folder of a generated tree: what its listing gives.
struct FakeFolder {
  std::u16string name;
  FolderState outcome = FolderState::Listed;
  std::uint32_t errorCode = 0;
  FolderTotals own;
  std::vector<std::size_t> subfolders;  // indices into the tree; the top is folder 0
};

using FakeTree = std::vector<FakeFolder>;

// Names as file systems give them: odd bytes, separators doubled by joining, units above U+00FF.
const std::u16string kNames[] = {
    u"a", u"b\tc", u"100%", u"\u00e9t\u00e9", u"\u03a9", u" ", u"\\x\\", u"..x", u"-", u"dup"};

// Folders of random fan-out down to a random depth, some of them chains; some cannot be listed
// (a permission, a loop through a link) or are not entered (a kernel file system); own totals
// from nothing to sizes that saturate.
FakeTree generateTree(std::mt19937_64& random) {
  FakeTree tree(1);
  tree[0].name = u"/top/";
  std::vector<std::pair<std::size_t, int>> pending = {{0, 1}};
  int deepest = 2 + static_cast<int>(random() % 12);
  while (!pending.empty() && tree.size() < 400) {
    auto [index, depth] = pending.back();
    pending.pop_back();
    FakeFolder& folder = tree[index];
    folder.own.entryCount = random() % 5;
    folder.own.latestWrite = random() % 3 == 0 ? 0 : random() % 1000;
    folder.own.totalBytes =
        random() % 7 == 0 ? kLargest - 10 : static_cast<std::int64_t>(random() % 100000);
    folder.own.bytesOnDisk = folder.own.totalBytes;
    std::size_t fanOut = depth >= deepest ? 0 : random() % (random() % 4 == 0 ? 2 : 6);
    for (std::size_t i = 0; i < fanOut; ++i) {
      FakeFolder subfolder;
      subfolder.name = kNames[random() % std::size(kNames)];
      switch (random() % 16) {
        case 0:
          subfolder.outcome = FolderState::Failed;
          subfolder.errorCode = 13;
          break;
        case 1:
          subfolder.outcome = FolderState::Failed;
          subfolder.errorCode = 40;
          break;
        case 2:
          subfolder.outcome = FolderState::NotEntered;
          break;
      }
      bool listed = subfolder.outcome == FolderState::Listed;
      tree.push_back(subfolder);
      tree[index].subfolders.push_back(tree.size() - 1);
      if (listed) pending.emplace_back(tree.size() - 1, depth + 1);
    }
  }
  return tree;
}

// A line as readable text, for comparing and for showing where reports differ.
std::string described(const std::u16string& path, const ReportLine& line) {
  std::string text = line.isError ? "error " + std::to_string(line.errorCode) + " " : "row ";
  for (char16_t unit : path) {
    text +=
        unit < 0x80 ? std::string(1, static_cast<char>(unit)) : "<" + std::to_string(unit) + ">";
  }
  return text + " " + std::to_string(line.totals.totalBytes) + " " +
         std::to_string(line.totals.bytesOnDisk) + " " + std::to_string(line.totals.entryCount) +
         " " + std::to_string(line.totals.latestWrite);
}

// Lines whose paths are formed from their names, one after the other as the writer forms them.
std::vector<std::string> described(const std::vector<ReportLine>& lines) {
  std::vector<std::string> texts;
  PathFormer paths;
  for (const ReportLine& line : lines)
    texts.push_back(described(formPath(paths, line.folder), line));
  return texts;
}

// Lines whose paths are given whole.
std::vector<std::string> described(
    const std::vector<std::pair<std::u16string, ReportLine>>& lines) {
  std::vector<std::string> texts;
  for (const auto& [path, line] : lines) texts.push_back(described(path, line));
  return texts;
}

// What a scan of one folder at a time reports, by plain recursion, each line with its whole path.
using PathLines = std::vector<std::pair<std::u16string, ReportLine>>;
FolderTotals reportOf(const FakeTree& tree, std::size_t index, const std::u16string& path,
                      std::int32_t depth, const ScanRules& rules, PathLines& lines) {
  FolderTotals totals = tree[index].own;
  for (std::size_t subfolder : tree[index].subfolders) {
    std::u16string subpath = path;
    appendPathName(subpath, tree[subfolder].name);
    if (tree[subfolder].outcome == FolderState::Listed) {
      mergeTotals(totals, reportOf(tree, subfolder, subpath, depth + 1, rules, lines));
    } else if (tree[subfolder].outcome == FolderState::Failed) {
      lines.push_back({subpath, {true, nullptr, FolderTotals(), tree[subfolder].errorCode}});
    }
  }
  if (qualifiesForRow(totals, depth, rules)) lines.push_back({path, {false, nullptr, totals, 0}});
  return totals;
}

// Plays a scan with `listers` listings in flight, finishing them in the order `schedule` picks.
std::vector<ReportLine> playScan(const FakeTree& tree, const ScanRules& rules, std::size_t listers,
                                 std::size_t window, std::mt19937_64& schedule) {
  FolderTree folders(tree[0].name, rules, window);
  std::unordered_map<const FolderNode*, std::size_t> fakeOf = {{folders.top.get(), 0}};
  std::vector<HandedOut> inFlight;
  std::vector<ReportLine> lines;
  while (!folders.finished) {
    bool handOut = inFlight.size() < listers && (inFlight.empty() || schedule() % 2 == 0);
    HandedOut job = handOut ? handOutFolder(folders) : HandedOut();
    if (!job.folder && inFlight.empty()) {
      // As the scan does once a listing the report waits for is done: the report moves on.
      collectReportLines(folders, lines);
      job = handOutFolder(folders);
      if (!job.folder && !folders.finished) {
        ADD_FAILURE() << "nothing in flight and nothing handed out: the scan is stuck";
        break;
      }
    }
    if (job.folder) {
      inFlight.push_back(job);
    } else if (!inFlight.empty()) {
      std::size_t pick = schedule() % inFlight.size();
      HandedOut done = inFlight[pick];
      inFlight.erase(inFlight.begin() + static_cast<std::ptrdiff_t>(pick));
      const FakeFolder& fake = tree[fakeOf.at(done.folder)];
      done.folder->totals = fake.own;
      done.folder->errorCode = fake.errorCode;
      if (fake.outcome == FolderState::Listed) {
        for (std::size_t subfolder : fake.subfolders) {
          done.folder->subfolders.push_back(makeSubfolder(*done.folder, tree[subfolder].name));
          fakeOf[done.folder->subfolders.back().get()] = subfolder;
        }
      }
      finishListing(folders, done, fake.outcome);
    }
    if (schedule() % 3 == 0) collectReportLines(folders, lines);
    EXPECT_LE(folders.handedOut - folders.cursor.size(), window + 1);
  }
  collectReportLines(folders, lines);
  return lines;
}

TEST(FolderTree, ReportIsTheOneFolderAtATimeReportWhateverOrderListingsFinishIn) {
  std::mt19937_64 random(20261207);
  const std::int32_t depths[] = {0, 1, 2, 3, -1};
  const std::int64_t thresholds[] = {0, 1, 50000, kLargest};
  for (int trial = 0; trial < 1000; ++trial) {
    FakeTree tree = generateTree(random);
    ScanRules rules;
    rules.maxDepth = depths[random() % std::size(depths)];
    rules.minSize = thresholds[random() % std::size(thresholds)];
    PathLines expected;
    reportOf(tree, 0, tree[0].name, 1, rules, expected);
    std::mt19937_64 schedule(random());
    for (std::size_t listers : {1, 2, 3, 16}) {
      std::size_t window = 1 + random() % 40;
      SCOPED_TRACE("trial " + std::to_string(trial) + ", " + std::to_string(listers) +
                   " listers, window " + std::to_string(window));
      ASSERT_EQ(described(playScan(tree, rules, listers, window, schedule)), described(expected));
    }
  }
}

}  // namespace
