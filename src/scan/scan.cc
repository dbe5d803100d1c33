#include "scan/scan.h"

#include <limits>
#include <vector>

#include "paths/paths.h"
#include "report/rows.h"

namespace {

// The settings every level of one scan shares.
struct ScanRules {
  bool processReparsePoints;
  std::int64_t minSize;
  FileTime dayCutoff;
  std::int32_t maxDepth;
};

// One folder being scanned: its open listing, what it has gathered so far, and where its path
// ends in the path the levels share.
struct ScanLevel {
  FolderListing* listing;
  FolderTotals totals;
  std::size_t pathLength;
};

bool hasAttribute(const FindEntry& entry, std::uint32_t attribute) {
  return (entry.attributes & attribute) != 0;
}

// Totals stop at the bounds of their 64-bit range rather than wrap: only a file system that
// reports absurd sizes (sparse files of exabytes, a misbehaving network share) gets there, and a
// wrapped total would show as a small or negative size.
std::int64_t addSaturating(std::int64_t total, std::int64_t amount) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kSmallest = std::numeric_limits<std::int64_t>::min();
  if (amount > 0 && total > kLargest - amount) return kLargest;
  if (amount < 0 && total < kSmallest - amount) return kSmallest;
  return total + amount;
}

std::int64_t roundUpToCluster(std::int64_t size) {
  std::int64_t remainder = size % ClusterBytes;
  return remainder > 0 ? addSaturating(size, ClusterBytes - remainder) : size;
}

void takeLaterStamp(FileTime& latest, FileTime candidate) {
  if (static_cast<std::int64_t>(candidate) > static_cast<std::int64_t>(latest)) latest = candidate;
}

// Everything an entry gives its own folder, apart from a subfolder's totals.
void countEntry(const FindEntry& entry, const ScanRules& rules, FolderTotals& totals) {
  ++totals.entryCount;
  if (hasAttribute(entry, kFolderAttribute)) return;
  takeLaterStamp(totals.latestWrite, entry.lastWrite);
  bool inTime = rules.dayCutoff == 0 || entry.lastWrite >= rules.dayCutoff;
  bool sizeCounts = rules.processReparsePoints || !hasAttribute(entry, kReparsePointAttribute);
  if (inTime && sizeCounts) {
    auto size = static_cast<std::int64_t>(entry.size);
    totals.totalBytes = addSaturating(totals.totalBytes, size);
    totals.bytesOnDisk = addSaturating(totals.bytesOnDisk, roundUpToCluster(size));
  }
}

bool shouldDescend(const FindEntry& entry, const ScanRules& rules) {
  return hasAttribute(entry, kFolderAttribute) && entry.name != u"." && entry.name != u".." &&
         (rules.processReparsePoints || !hasAttribute(entry, kReparsePointAttribute));
}

void mergeTotals(FolderTotals& into, const FolderTotals& child) {
  takeLaterStamp(into.latestWrite, child.latestWrite);
  into.totalBytes = addSaturating(into.totalBytes, child.totalBytes);
  into.entryCount += child.entryCount;
  into.bytesOnDisk = addSaturating(into.bytesOnDisk, child.bytesOnDisk);
}

// Enters the folder whose path `path` holds: raises the depth and opens its listing, leaving its
// first entry in `entry`. A folder that cannot be listed gets its error line and is left at once.
bool enterFolder(const std::u16string& path, FolderListing* parent, std::vector<ScanLevel>& levels,
                 FindEntry& entry, std::int32_t& scanDepth) {
  ++scanDepth;
  FolderListing* listing = nullptr;
  std::uint32_t errorCode = 0;
  if (!openFolderListing(path, parent, listing, entry, errorCode)) {
    printFolderError(path, errorCode);
    --scanDepth;
    return false;
  }
  levels.push_back({listing, FolderTotals(), path.size()});
  return true;
}

// Closes the innermost folder's listing, prints its row if it qualifies, and hands its totals on.
void leaveFolder(std::u16string& path, std::vector<ScanLevel>& levels, const ScanRules& rules,
                 FolderTotals& rootTotals, std::int32_t& scanDepth) {
  ScanLevel& level = levels.back();
  closeFolderListing(level.listing);
  const FolderTotals& totals = level.totals;
  bool withinDepth = rules.maxDepth == 0 || scanDepth <= rules.maxDepth;
  if (totals.bytesOnDisk >= rules.minSize && withinDepth) {
    printReportRow(toDisplayPath(path.c_str()), static_cast<std::uint64_t>(totals.totalBytes),
                   static_cast<std::uint64_t>(totals.bytesOnDisk), totals.entryCount,
                   totals.latestWrite);
  }
  FolderTotals finished = totals;
  levels.pop_back();
  mergeTotals(levels.empty() ? rootTotals : levels.back().totals, finished);
  if (!levels.empty()) path.resize(levels.back().pathLength);
  --scanDepth;
}

}  // namespace

void scanFolder(bool processReparsePoints, const std::u16string& path, std::int64_t minSize,
                FolderTotals& totals, FileTime dayCutoff, std::int32_t maxDepth,
                std::int32_t& scanDepth) {
  const ScanRules rules = {processReparsePoints, minSize, dayCutoff, maxDepth};
  std::u16string currentPath = path;
  std::vector<ScanLevel> levels;
  FindEntry entry;
  bool haveEntry = enterFolder(currentPath, nullptr, levels, entry, scanDepth);
  while (!levels.empty()) {
    if (!haveEntry) {
      leaveFolder(currentPath, levels, rules, totals, scanDepth);
      haveEntry = !levels.empty() && findNextEntry(levels.back().listing, entry);
      continue;
    }
    ScanLevel& level = levels.back();
    countEntry(entry, rules, level.totals);
    if (shouldDescend(entry, rules)) {
      FolderListing* parent = level.listing;
      appendPathName(currentPath, entry.name);
      // A child that cannot be listed contributes nothing; the parent goes on with its next entry.
      if (enterFolder(currentPath, parent, levels, entry, scanDepth)) continue;
      currentPath.resize(levels.back().pathLength);
    }
    haveEntry = findNextEntry(levels.back().listing, entry);
  }
}
