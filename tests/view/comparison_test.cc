// Two reports matched folder by folder: which folders match, what state each is in, and what is
// known of its change.
#include "view/comparison.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// A report of `folder` with this threshold text, of these lines after the header (each a row
// "path\tsize" with the size as total size, or an error line), ending with the row of its folder.
ViewReport reportOf(const std::string& folder, const std::string& threshold,
                    const std::vector<std::string>& lines, const std::string& folderSize) {
  std::string text = "Treemeter v2.0\r\nGenerating stats for: " + folder +
                     "\r\nReport includes folders equal or greater than " + threshold +
                     "\r\nNo time filter specified\r\n"
                     "path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n";
  for (const std::string& line : lines) {
    bool error = line.rfind("Error", 0) == 0;
    text += error ? line + "\r\n" : line + "\t1.000 MiB\t3\t12/07/26 10:00:00\r\n";
  }
  text += folder + "\t" + folderSize + "\t1.000 MiB\t3\t12/07/26 10:00:00\r\n";
  ViewReport report;
  EXPECT_EQ(readReport(text, ReadOptions(), report), ReadOutcome::kRead) << text;
  return report;
}

struct Seen {
  ChangeState state;
  ChangeBound bound;
  std::int64_t change;
  bool operator==(const Seen& other) const {
    return state == other.state && bound == other.bound && change == other.change;
  }
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
  return out << stateName(seen.state) << " " << static_cast<int>(seen.bound) << " " << seen.change;
}

// Each folder's state by its path.
std::map<std::string, Seen> statesOf(const ViewReport& before, const ViewReport& after) {
  Comparison comparison = compareReports(before, after);
  EXPECT_EQ(comparison.differentFolders, "");
  std::map<std::string, Seen> states;
  for (std::size_t i = 0; i < comparison.folders.size(); ++i) {
    const FolderChange& change = comparison.folders[i];
    states[changePath(comparison, i, before, after)] = {change.state, change.bound, change.change};
  }
  return states;
}

constexpr std::int64_t kMB = 1 << 20;
constexpr std::int64_t kHalfThousandthMB = 525;  // 524.288, rounded up

TEST(Comparison, FoldersInOneReportOnlyAreNewOrGoneOnlyWhereTheOtherWouldHaveListedThem) {
  using S = ChangeState;
  using B = ChangeBound;
  // Everything listed in the old report; the new one keeps out what is below 1 MB.
  ViewReport everything = reportOf(
      "/r", "0.000 MB",
      {"/r/stays\t2.000 MB", "/r/shrinks\t3.000 MB", "/r/small\t0.500 MB", "/r/removed\t2.000 MB"},
      "8.000 MB");
  ViewReport aboveOne = reportOf("/r", "1.000 MB",
                                 {"/r/stays\t2.000 MB", "/r/shrinks\t2.000 MB",
                                  "/r/added\t2.500 MB", "/r/added/deep\t1.500 MB"},
                                 "9.000 MB");
  // A folder that crosses the threshold is below it in the old report, and has grown by at least
  // its size less the most a folder below the threshold can hold (1 MB on disk, less its
  // rounding), less its own text's rounding.
  std::map<std::string, Seen> states = statesOf(aboveOne, everything);
  EXPECT_EQ(states["/r/small"], (Seen{S::kBelowThreshold, B::kUnknown, 0}));
  EXPECT_EQ(states["/r/removed"],
            (Seen{S::kBelowThreshold, B::kAtLeast, 2 * kMB - kHalfThousandthMB - kMB}));
  EXPECT_EQ(states["/r/added"], (Seen{S::kGone, B::kExact, -5 * kMB / 2}));
  EXPECT_EQ(states["/r/added/deep"], (Seen{S::kBeyondDepth, B::kUnknown, 0}));
  EXPECT_EQ(states["/r/shrinks"], (Seen{S::kGrew, B::kExact, kMB}));
  EXPECT_EQ(states["/r/stays"], (Seen{S::kUnchanged, B::kExact, 0}));
  EXPECT_EQ(states["/r"], (Seen{S::kShrank, B::kExact, -kMB}));
  // The other way round: a folder gone below the threshold shrank by at least as much; one that
  // appears where the old report would have listed any folder is new.
  states = statesOf(everything, aboveOne);
  EXPECT_EQ(states["/r/removed"],
            (Seen{S::kBelowThreshold, B::kAtMost, -(2 * kMB - kHalfThousandthMB - kMB)}));
  EXPECT_EQ(states["/r/small"], (Seen{S::kBelowThreshold, B::kUnknown, 0}));
  EXPECT_EQ(states["/r/added"], (Seen{S::kNew, B::kExact, 5 * kMB / 2}));
  EXPECT_EQ(states["/r/added/deep"], (Seen{S::kBeyondDepth, B::kUnknown, 0}));
  EXPECT_EQ(states["/r/shrinks"], (Seen{S::kShrank, B::kExact, -kMB}));
  EXPECT_EQ(states.size(), 7u);
}

TEST(Comparison, UnreadableAndUnreachedFoldersAreNeitherNewNorGone) {
  using S = ChangeState;
  ViewReport locked = reportOf("/r", "0.000 MB",
                               {"/r/a\t1.000 MB",
                                "Error accessing folder: /r/x: (13): Permission "
                                "denied"},
                               "2.000 MB");
  ViewReport open = reportOf(
      "/r", "0.000 MB", {"/r/a\t1.000 MB", "/r/x/y\t1.000 MB", "/r/x\t1.000 MB", "/r/z\t1.000 MB"},
      "3.000 MB");
  std::map<std::string, Seen> states = statesOf(locked, open);
  EXPECT_EQ(states["/r/x"].state, S::kUnreadable);
  EXPECT_EQ(states["/r/x/y"].state, S::kUnreadable);
  EXPECT_EQ(states["/r/z"].state, S::kNew);
  // A report that ends early may not have reached a folder.
  ViewReport cut = reportOf("/r", "0.000 MB", {"/r/a\t1.000 MB"}, "2.000 MB");
  cut.truncated = true;
  states = statesOf(cut, open);
  EXPECT_EQ(states["/r/a"].state, S::kUnchanged);
  EXPECT_EQ(states["/r/x/y"].state, S::kNotReached);
  EXPECT_EQ(states["/r/z"].state, S::kNotReached);
}

TEST(Comparison, FoldersMatchBelowEachReportsFolderAndWithoutCaseOnlyOnWindows) {
  using S = ChangeState;
  // A share under its drive letter and under its server's name, each a Windows report: names
  // match whatever their case, Latin-1 letters included.
  ViewReport drive = reportOf(
      "Z:\\", "0.000 MB", {"Z:\\Photos\\\xC9t\xE9\t1.000 MB", "Z:\\Photos\t1.000 MB"}, "1.000 MB");
  ViewReport share = reportOf(
      "\\\\server\\share", "0.000 MB",
      {"\\\\server\\share\\PHOTOS\\\xC9T\xC9\t1.000 MB", "\\\\server\\share\\PHOTOS\t1.000 MB"},
      "1.000 MB");
  Comparison comparison = compareReports(drive, share);
  EXPECT_EQ(comparison.differentFolders, "");
  ASSERT_EQ(comparison.folders.size(), 3u);
  for (const FolderChange& change : comparison.folders) EXPECT_EQ(change.state, S::kUnchanged);
  ASSERT_EQ(comparison.warnings.size(), 1u);
  EXPECT_NE(comparison.warnings[0].find("Z:\\ and \\\\server\\share"), std::string::npos);

  // The same tree from Linux: its names in UTF-8, with their case, against a Windows report.
  ViewReport fromLinux = reportOf(
      "/srv/share", "0.000 MB",
      {"/srv/share/Photos/\xC3\x89t\xC3\xA9\t1.000 MB", "/srv/share/Photos\t1.000 MB"}, "1.000 MB");
  std::map<std::string, Seen> states = statesOf(drive, fromLinux);
  EXPECT_EQ(states.size(), 3u);
  for (const auto& [path, seen] : states) EXPECT_EQ(seen.state, S::kUnchanged) << path;
  // Linux names differ by case.
  states = statesOf(share, fromLinux);
  EXPECT_EQ(states["/srv/share/Photos"].state, S::kNew);
  EXPECT_EQ(states["/srv/share/PHOTOS"].state, S::kGone);

  // Two folders of other names are not one folder.
  ViewReport other = reportOf("/srv/other", "0.000 MB", {}, "1.000 MB");
  EXPECT_EQ(compareReports(fromLinux, other).differentFolders, "/srv/share and /srv/other");
}

TEST(Comparison, ChangesWithinTheTextsPrecisionAreNone) {
  struct Case {
    const char* before;
    const char* after;
    ChangeState state;
  };
  const Case cases[] = {
      {"1.000 MB", "1.000 MB", ChangeState::kUnchanged},
      {"1.000 MB", "1.001 MB", ChangeState::kGrew},  // a step of the last digit is a change
      {"1.001 MB", "1.000 MB", ChangeState::kShrank},
      {"1024.000 MB", "1.000 GB", ChangeState::kUnchanged},
      {"1023.999 MB", "1.000 GB", ChangeState::kUnchanged},  // 1049 bytes, under 537,396
      {"1023.400 MB", "1.000 GB", ChangeState::kGrew},       // 628,326 bytes
      {"1.000 GB", "1.001 GB", ChangeState::kGrew},
      {"1024.000 GB", "1.000 TB", ChangeState::kUnchanged},
      {"16777216.000 TB", "16777216.000 TB", ChangeState::kUnchanged},
  };
  for (const Case& c : cases) {
    ViewReport before = reportOf("/r", "0.000 MB", {}, c.before);
    ViewReport after = reportOf("/r", "0.000 MB", {}, c.after);
    Comparison comparison = compareReports(before, after);
    ASSERT_EQ(comparison.folders.size(), 1u);
    EXPECT_EQ(comparison.folders[0].state, c.state) << c.before << " to " << c.after;
  }
}

}  // namespace
