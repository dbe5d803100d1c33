// The recursive folder scan: totals bytes, bytes on disk, entries and the latest write stamp of a
// tree, and prints a row for every folder that reaches the threshold within the reporting depth.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Every counted file occupies its size rounded up to a multiple of this on disk.
constexpr std::int64_t ClusterBytes = 4096;

// What one folder hands to its caller.
struct FolderTotals {
  std::int64_t totalBytes = 0;
  std::int64_t bytesOnDisk = 0;
  std::uint64_t entryCount = 0;
  FileTime latestWrite = 0;
};

// Scans the folder at `path` (in the form the platform lists) and everything below it, printing
// rows in depth-first post-order and an error line for each folder that cannot be listed, and
// fills `totals`. `scanDepth` holds the level of the folder being scanned (1 for `path`) and is
// back at its value when the scan returns. The walk keeps its own stack, so the depth of the tree
// never reaches the machine stack.
void scanFolder(bool processReparsePoints, const std::u16string& path, std::int64_t minSize,
                FolderTotals& totals, FileTime dayCutoff, std::int32_t maxDepth,
                std::int32_t& scanDepth);
