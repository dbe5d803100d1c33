#include "view/comparison.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <unordered_set>

#include "platform/memory.h"
#include "view/encode.h"

namespace {

__extension__ typedef __int128 Wide;  // products of thousandths and units exceed 64 bits

constexpr std::string_view kThresholdStart = "Report includes folders equal or greater than ";
constexpr std::string_view kNoTimeFilter = "No time filter specified";
constexpr std::uint64_t kClusterBytes = 4096;  // every file takes a multiple of it on disk
constexpr char kKeySeparator = '/';
constexpr char kOutsideRoot = '\x01';  // starts the key of a row that lies outside the folder

bool isWindowsReport(const ViewReport& report) {
  return report.separator == '\\';
}

std::int64_t clampedDifference(Wide difference) {
  constexpr Wide kMost = std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(std::max(-kMost, std::min(kMost, difference)));
}

// How far the bytes a size text stands for may lie from its parsed value: half a thousandth of
// its unit, rounded up.
std::uint64_t precisionOf(std::string_view text) {
  SizeText size;
  return readSizeText(text, size) ? (size.unitBytes + 1999) / 2000 : 0;
}

// True when the two size texts may stand for the same number of bytes: each stands for a range
// of half a thousandth of its unit either side, and the ranges overlap.
bool withinPrecision(std::string_view oldText, std::string_view newText) {
  SizeText before, after;
  if (!readSizeText(oldText, before) || !readSizeText(newText, after)) return false;
  Wide difference = static_cast<Wide>(before.thousandths) * before.unitBytes -
                    static_cast<Wide>(after.thousandths) * after.unitBytes;
  if (difference < 0) difference = -difference;
  return 2 * difference < static_cast<Wide>(before.unitBytes) + after.unitBytes;
}

// Folds the case of ASCII and Latin-1 letters in UTF-8 text, as Windows' file systems compare
// names: A-Z and U+00C0-U+00DE (but U+00D7) become their small letters.
void foldCase(std::string& text, std::size_t from) {
  for (std::size_t at = from; at < text.size(); ++at) {
    auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 'A' && byte <= 'Z') {
      text[at] = static_cast<char>(byte + 32);
    } else if (byte == 0xC3 && at + 1 < text.size()) {
      auto next = static_cast<unsigned char>(text[at + 1]);
      if (next >= 0x80 && next <= 0x9E && next != 0x97) text[at + 1] = static_cast<char>(next + 32);
      ++at;
    }
  }
}

std::size_t keyDepth(std::string_view key) {
  if (key.empty()) return 1;
  return 2 + static_cast<std::size_t>(std::count(key.begin(), key.end(), kKeySeparator));
}

// The last name of a folder path, and whether the path is a volume's root (/, C:\, \\server\share),
// whose name another mount of the same volume need not share; "." and ".." count as roots too,
// since they name no folder of their own.
std::string_view lastName(std::string_view path, char separator, bool& volumeRoot) {
  while (path.size() > 1 && path.back() == separator) path.remove_suffix(1);
  std::size_t cut = path.rfind(separator);
  std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
  bool drive = path.size() == 2 && path[1] == ':';
  bool share = separator == '\\' && path.substr(0, 2) == "\\\\" &&
               std::count(path.begin() + 2, path.end(), '\\') == 1;
  volumeRoot = path == "/" || drive || share || name == "." || name == ".." || name.empty();
  return name;
}

// One report, as the comparison sees it: each row's key (its path below the report's folder, in
// UTF-8, with "/" between names, and in small letters when `foldedCase`), and what its own lines
// say of the folders it leaves out.
struct ReportFacts {
  std::string root;
  // Keys that are not the row's path as it stands: the room is made once, for the most they can
  // take, so that the keys that view it stay valid.
  std::string converted;
  std::vector<std::string_view> keys;  // a row's key: a view of its path, or of `converted`
  std::size_t deepest = 0;             // the depth of its deepest row; its folder's is 1
  std::vector<std::string> errorKeys;  // the keys of its error lines
  std::unordered_set<std::string_view> unreadable;  // the same, to look up
  // The most total bytes a folder that its threshold leaves out can hold, when the threshold is
  // known: less than the threshold on disk, where a folder takes a multiple of 4096 bytes.
  std::optional<std::uint64_t> mostBelowThreshold;
  std::string threshold;  // the threshold's text
  std::string timeFilter;
};

// The key of `path`, a path of `report`: the path below the root where it needs no change, else
// its changed form, appended to `converted`.
std::string_view keyOf(std::string_view path, const ViewReport& report, std::string_view root,
                       bool foldedCase, std::string& converted) {
  if (path == root || path == report.folder) return {};
  bool outside = !isBelow(path, root, report.separator);
  if (!outside) {
    path.remove_prefix(root.size());
    if (!path.empty() && path.front() == report.separator) path.remove_prefix(1);
  }
  bool latin1 = report.encoding == TextEncoding::kLatin1 && !isAscii(path);
  if (!outside && !latin1 && !foldedCase && report.separator == kKeySeparator) return path;
  std::size_t start = converted.size();
  if (outside) converted += kOutsideRoot;
  if (latin1) {
    converted += utf8Text(path, report.encoding);
  } else {
    converted += path;
  }
  auto from = converted.begin() + static_cast<std::ptrdiff_t>(start);
  std::replace(from, converted.end(), report.separator, kKeySeparator);
  if (foldedCase) foldCase(converted, start);
  return std::string_view(converted).substr(start);
}

ReportFacts factsOf(const ViewReport& report, bool foldedCase) {
  ReportFacts facts;
  facts.root = reportRoot(report);
  // Latin-1 at most doubles a key, and a key outside the folder takes one more byte; room not
  // written to takes no memory.
  facts.converted.reserve(2 * report.text->size() + report.rows.size() + 16);
  reserveInLargePages(facts.keys, report.rows.size());
  for (const ReportRow& row : report.rows) {
    std::string_view key = keyOf(row.path, report, facts.root, foldedCase, facts.converted);
    facts.keys.push_back(key);
    if (key.empty() || key.front() != kOutsideRoot) {
      facts.deepest = std::max(facts.deepest, keyDepth(key));
    }
  }
  for (const FolderError& error : report.errors) {
    std::string converted;
    facts.errorKeys.emplace_back(keyOf(error.path, report, facts.root, foldedCase, converted));
  }
  facts.unreadable.insert(facts.errorKeys.begin(), facts.errorKeys.end());
  for (const std::string& line : report.settingsLines) {
    std::uint64_t threshold;
    if (line.compare(0, kThresholdStart.size(), kThresholdStart) == 0 &&
        parseSizeText(std::string_view(line).substr(kThresholdStart.size()), threshold)) {
      facts.threshold = line.substr(kThresholdStart.size());
      std::uint64_t most = threshold + precisionOf(facts.threshold);
      facts.mostBelowThreshold = most == 0 ? 0 : (most - 1) / kClusterBytes * kClusterBytes;
    } else if (line != kNoTimeFilter && facts.timeFilter.empty()) {
      facts.timeFilter = line;
    }
  }
  return facts;
}

// The rows of one report by key: open addressing, a row number (plus one) a slot.
struct KeyIndex {
  std::vector<std::uint32_t> slots;

  static std::uint64_t hash(std::string_view key) {
    std::uint64_t value = 14695981039346656037ULL;  // FNV-1a
    for (char c : key) value = (value ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return value;
  }
  explicit KeyIndex(const ReportFacts& facts) {
    std::size_t size = 16;
    while (size < facts.keys.size() * 2) size *= 2;
    slots.assign(size, 0);
    for (std::size_t row = 0; row < facts.keys.size(); ++row) {
      std::size_t slot = hash(facts.keys[row]) & (slots.size() - 1);
      while (slots[slot] != 0) slot = (slot + 1) & (slots.size() - 1);
      slots[slot] = static_cast<std::uint32_t>(row + 1);
    }
  }
  // The first row with this key that `taken` does not mark, or -1.
  std::ptrdiff_t find(const ReportFacts& facts, std::string_view key,
                      const std::vector<bool>& taken) const {
    for (std::size_t slot = hash(key) & (slots.size() - 1); slots[slot] != 0;
         slot = (slot + 1) & (slots.size() - 1)) {
      std::size_t row = slots[slot] - 1;
      if (!taken[row] && facts.keys[row] == key) return static_cast<std::ptrdiff_t>(row);
    }
    return -1;
  }
};

// Why a folder with this key has no row in `other`, which would have listed it as new (or gone)
// at any size.
ChangeState stateOfMissing(const ViewReport& other, const ReportFacts& facts, std::string_view key,
                           ChangeState newOrGone) {
  for (std::string_view above = key;;) {
    if (facts.unreadable.count(above)) return ChangeState::kUnreadable;
    if (above.empty()) break;
    std::size_t cut = above.rfind(kKeySeparator);
    above = cut == std::string_view::npos ? std::string_view() : above.substr(0, cut);
  }
  if (other.truncated) return ChangeState::kNotReached;
  if (keyDepth(key) > facts.deepest) return ChangeState::kBeyondDepth;
  if (facts.mostBelowThreshold == std::uint64_t{0}) return newOrGone;
  return ChangeState::kBelowThreshold;
}

// A folder of one report only: its state, and what is known of its change, given its total size
// there and the precision of that size's text.
void missingFrom(FolderChange& change, const ViewReport& other, const ReportFacts& facts,
                 std::string_view key, bool inNewOnly, std::uint64_t bytes,
                 std::uint64_t precision) {
  change.state =
      stateOfMissing(other, facts, key, inNewOnly ? ChangeState::kNew : ChangeState::kGone);
  change.slack = precision;
  Wide signedBytes = inNewOnly ? Wide(bytes) : -Wide(bytes);
  if (change.state == ChangeState::kNew || change.state == ChangeState::kGone) {
    change.bound = ChangeBound::kExact;
    change.change = clampedDifference(signedBytes);
  } else if (change.state == ChangeState::kBelowThreshold && facts.mostBelowThreshold) {
    // At most `mostBelowThreshold` there, so at least this much more here.
    Wide least = Wide(bytes) - Wide(precision) - Wide(*facts.mostBelowThreshold);
    if (least > 0) {
      change.bound = inNewOnly ? ChangeBound::kAtLeast : ChangeBound::kAtMost;
      change.change = clampedDifference(inNewOnly ? least : -least);
    }
  }
}

void addWarnings(Comparison& comparison, const ReportFacts& before, const ReportFacts& after,
                 const ViewReport& oldReport, const ViewReport& newReport) {
  if (!before.timeFilter.empty() || !after.timeFilter.empty()) {
    auto filter = [](const ReportFacts& facts) {
      return facts.timeFilter.empty() ? std::string("counts every file")
                                      : "says: " + facts.timeFilter;
    };
    comparison.warnings.push_back(
        "The sizes count only recent files: the old report " + filter(before) +
        "; the new report " + filter(after) +
        ". A folder's size changes as files come into or leave that window, too.");
  }
  if (before.threshold != after.threshold) {
    comparison.warnings.push_back("The reports have different thresholds: " +
                                  (before.threshold.empty() ? "none stated" : before.threshold) +
                                  " and " +
                                  (after.threshold.empty() ? "none stated" : after.threshold) +
                                  ". A folder that one leaves out, the other may list.");
  }
  if (utf8Text(before.root, oldReport.encoding) != utf8Text(after.root, newReport.encoding)) {
    comparison.warnings.push_back("Folders are matched by their path below each report's folder: " +
                                  utf8Text(before.root, oldReport.encoding) + " and " +
                                  utf8Text(after.root, newReport.encoding) + ".");
  }
}

// The two folders when they are not one folder under two names; empty when they may be.
std::string differentFolders(const ViewReport& before, const ViewReport& after,
                             const ReportFacts& oldFacts, const ReportFacts& newFacts) {
  bool oldVolume = false, newVolume = false;
  std::string oldName =
      utf8Text(lastName(oldFacts.root, before.separator, oldVolume), before.encoding);
  std::string newName =
      utf8Text(lastName(newFacts.root, after.separator, newVolume), after.encoding);
  if (isWindowsReport(before) || isWindowsReport(after)) {
    foldCase(oldName, 0);
    foldCase(newName, 0);
  }
  if (oldVolume || newVolume || oldName == newName) return {};
  return utf8Text(oldFacts.root, before.encoding) + " and " +
         utf8Text(newFacts.root, after.encoding);
}

}  // namespace

std::string reportRoot(const ViewReport& report) {
  if (!report.folder.empty()) return shownFolder(report);
  return report.rows.empty() ? std::string() : std::string(report.rows.back().path);
}

Comparison compareReports(const ViewReport& before, const ViewReport& after) {
  bool foldedCase = isWindowsReport(before) && isWindowsReport(after);
  ReportFacts oldFacts = factsOf(before, foldedCase);
  ReportFacts newFacts = factsOf(after, foldedCase);
  Comparison comparison;
  comparison.oldRoot = oldFacts.root;
  comparison.newRoot = newFacts.root;
  comparison.differentFolders = differentFolders(before, after, oldFacts, newFacts);
  if (!comparison.differentFolders.empty()) return comparison;
  addWarnings(comparison, oldFacts, newFacts, before, after);

  // The new report's rows, each with its match in the old one.
  KeyIndex oldIndex(oldFacts);
  std::vector<bool> matched(before.rows.size(), false);
  std::vector<std::ptrdiff_t> unionOfOld(before.rows.size(), -1);
  std::vector<std::ptrdiff_t> newParents = parentRows(after);
  std::ptrdiff_t newRoot = -1;
  reserveInLargePages(comparison.folders, after.rows.size() + before.rows.size() / 8);
  for (std::size_t row = 0; row < after.rows.size(); ++row) {
    FolderChange& change = comparison.folders.emplace_back();
    const ReportRow& now = after.rows[row];
    std::string_view key = newFacts.keys[row];
    if (key.empty()) newRoot = static_cast<std::ptrdiff_t>(row);
    change.newRow = static_cast<std::ptrdiff_t>(row);
    change.parent = newParents[row];
    change.oldRow = oldIndex.find(oldFacts, key, matched);
    if (change.oldRow < 0) {
      missingFrom(change, before, oldFacts, key, true, now.totalBytes, precisionOf(now.totalText));
      continue;
    }
    matched[change.oldRow] = true;
    unionOfOld[change.oldRow] = static_cast<std::ptrdiff_t>(row);
    const ReportRow& then = before.rows[change.oldRow];
    change.bound = ChangeBound::kExact;
    change.change = clampedDifference(Wide(now.totalBytes) - Wide(then.totalBytes));
    change.slack = precisionOf(then.totalText) + precisionOf(now.totalText);
    change.state = withinPrecision(then.totalText, now.totalText) ? ChangeState::kUnchanged
                   : change.change > 0                            ? ChangeState::kGrew
                                                                  : ChangeState::kShrank;
  }
  // The old report's folders that the new one lacks; a folder above them comes after them.
  std::vector<std::ptrdiff_t> oldParents = parentRows(before);
  for (std::size_t row = 0; row < before.rows.size(); ++row) {
    if (matched[row]) continue;
    unionOfOld[row] = static_cast<std::ptrdiff_t>(comparison.folders.size());
    FolderChange& change = comparison.folders.emplace_back();
    change.oldRow = static_cast<std::ptrdiff_t>(row);
    const ReportRow& then = before.rows[row];
    missingFrom(change, after, newFacts, oldFacts.keys[row], false, then.totalBytes,
                precisionOf(then.totalText));
  }
  for (FolderChange& change : comparison.folders) {
    if (change.newRow >= 0) continue;
    std::ptrdiff_t oldParent = oldParents[change.oldRow];
    change.parent = oldParent >= 0 ? unionOfOld[oldParent] : newRoot;
  }
  return comparison;
}

std::string changePath(const Comparison& comparison, std::size_t index, const ViewReport& before,
                       const ViewReport& after) {
  const FolderChange& change = comparison.folders[index];
  if (change.newRow >= 0) return utf8Text(after.rows[change.newRow].path, after.encoding);
  std::string_view path = before.rows[change.oldRow].path;
  if (!isBelow(path, comparison.oldRoot, before.separator)) return utf8Text(path, before.encoding);
  path.remove_prefix(comparison.oldRoot.size());
  if (!path.empty() && path.front() == before.separator) path.remove_prefix(1);
  std::string below = utf8Text(path, before.encoding);
  std::replace(below.begin(), below.end(), before.separator, after.separator);
  std::string joined = utf8Text(comparison.newRoot, after.encoding);
  if (!joined.empty() && joined.back() != after.separator) joined += after.separator;
  return joined + below;
}

std::string_view stateName(ChangeState state) {
  switch (state) {
    case ChangeState::kGrew:
      return "grew";
    case ChangeState::kShrank:
      return "shrank";
    case ChangeState::kUnchanged:
      return "unchanged";
    case ChangeState::kNew:
      return "new";
    case ChangeState::kGone:
      return "gone";
    case ChangeState::kBelowThreshold:
      return "below the threshold";
    case ChangeState::kBeyondDepth:
      return "beyond the depth";
    case ChangeState::kUnreadable:
      return "unreadable";
    case ChangeState::kNotReached:
      break;
  }
  return "not reached";
}
