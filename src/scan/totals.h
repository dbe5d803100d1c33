// What the entries of a folder add to its totals, and which of them the scan descends into: the
// rules the listing of every folder applies, and the merging of a finished subfolder into its
// folder. Pure functions over values; and the record of how far a scan has come.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/listing.h"

// Every counted file occupies its size rounded up to a multiple of this on disk.
constexpr std::int64_t ClusterBytes = 4096;

// What one folder hands to its folder: the totals of its own entries and of its whole subtree.
struct FolderTotals {
  std::int64_t totalBytes = 0;
  std::int64_t bytesOnDisk = 0;
  std::uint64_t entryCount = 0;
  FileTime latestWrite = 0;
};

// The settings of one scan, the same for every folder.
struct ScanRules {
  bool processReparsePoints = false;
  std::int64_t minSize = 0;
  FileTime dayCutoff = 0;
  std::int32_t maxDepth = 0;
};

// How far a scan has come, as the status line shows it.
struct ScanProgress {
  std::uint64_t folders = 0;  // listed so far
  std::uint64_t entries = 0;  // in those folders' listings
  std::int64_t totalBytes = 0;
  std::u16string waitingFor;  // the folder the report waits for, in the form the platform lists
  // Nothing is being listed, and nothing will be until the lines ready are taken: whoever takes
  // the report's lines holds the scan back.
  bool heldByTaker = false;
};

// Everything an entry gives its own folder, apart from a subfolder's totals.
void countEntry(const FindEntry& entry, const ScanRules& rules, FolderTotals& totals);

// Whether the scan descends into the entry: a folder other than "." and "..", and a reparse point
// only when the rules follow them.
bool shouldDescend(const FindEntry& entry, const ScanRules& rules);

// A folder entry on another volume than the folder that lists it: a mount point, which the scan
// treats as a reparse point.
bool isMountPoint(const FindEntry& entry, const FolderIdentity& folder);

// Adds a finished subfolder's totals into its folder's.
void mergeTotals(FolderTotals& into, const FolderTotals& subfolder);

// Whether a finished folder at `depth` (1 for the top of the tree) gets a row.
bool qualifiesForRow(const FolderTotals& totals, std::int32_t depth, const ScanRules& rules);
