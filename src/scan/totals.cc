#include "scan/totals.h"

#include <limits>

namespace {

constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();

bool hasAttribute(const FindEntry& entry, std::uint32_t attribute) {
  return (entry.attributes & attribute) != 0;
}

// Totals stop at the largest 64-bit value rather than wrap: only a file system that reports
// absurd sizes (sparse files of exabytes, a misbehaving network share) gets there, and a wrapped
// total would show as a small or negative size. Every amount is at least 0, so the totals come out
// the same whatever order folders finish in.
std::int64_t addSaturating(std::int64_t total, std::int64_t amount) {
  return total > kLargest - amount ? kLargest : total + amount;
}

std::int64_t roundUpToCluster(std::int64_t size) {
  std::int64_t remainder = size % ClusterBytes;
  return remainder > 0 ? addSaturating(size, ClusterBytes - remainder) : size;
}

void takeLaterStamp(FileTime& latest, FileTime candidate) {
  if (static_cast<std::int64_t>(candidate) > static_cast<std::int64_t>(latest)) latest = candidate;
}

}  // namespace

void countEntry(const FindEntry& entry, const ScanRules& rules, FolderTotals& totals) {
  ++totals.entryCount;
  if (hasAttribute(entry, kFolderAttribute)) return;
  takeLaterStamp(totals.latestWrite, entry.lastWrite);
  bool inTime = rules.dayCutoff == 0 || entry.lastWrite >= rules.dayCutoff;
  bool sizeCounts = rules.processReparsePoints || !hasAttribute(entry, kReparsePointAttribute);
  if (inTime && sizeCounts) {
    // A size past the largest signed value (which no file system gives) counts as that value.
    std::int64_t size = entry.size > static_cast<std::uint64_t>(kLargest)
                            ? kLargest
                            : static_cast<std::int64_t>(entry.size);
    totals.totalBytes = addSaturating(totals.totalBytes, size);
    totals.bytesOnDisk = addSaturating(totals.bytesOnDisk, roundUpToCluster(size));
  }
}

bool shouldDescend(const FindEntry& entry, const ScanRules& rules) {
  return hasAttribute(entry, kFolderAttribute) && entry.name != u"." && entry.name != u".." &&
         (rules.processReparsePoints || !hasAttribute(entry, kReparsePointAttribute));
}

bool isMountPoint(const FindEntry& entry, const FolderIdentity& folder) {
  return hasAttribute(entry, kFolderAttribute) && entry.identityKnown &&
         entry.identity.volume != folder.volume;
}

void mergeTotals(FolderTotals& into, const FolderTotals& subfolder) {
  takeLaterStamp(into.latestWrite, subfolder.latestWrite);
  into.totalBytes = addSaturating(into.totalBytes, subfolder.totalBytes);
  into.entryCount += subfolder.entryCount;
  into.bytesOnDisk = addSaturating(into.bytesOnDisk, subfolder.bytesOnDisk);
}

bool qualifiesForRow(const FolderTotals& totals, std::int32_t depth, const ScanRules& rules) {
  bool withinDepth = rules.maxDepth == 0 || depth <= rules.maxDepth;
  return totals.bytesOnDisk >= rules.minSize && withinDepth;
}
