// The folder scan: totals the bytes, bytes on disk, entries and latest write stamp of a tree, and
// prints a row for every folder that reaches the threshold within the reporting depth, in
// depth-first post-order, with an error line where a folder cannot be listed. Several folders are
// read at once; the report is the one a scan of one folder at a time prints, byte for byte.
#pragma once

#include <cstddef>
#include <string>

#include "report/rows.h"
#include "scan/totals.h"

// The worker count with which the scan chooses for itself how many folder reads to keep in flight.
constexpr std::size_t kScanChoosesWorkers = 0;

// Scans the folder at `path` (in the form the platform lists) and everything below it, keeping
// `workers` folder reads in flight (with 1, this thread reads every folder itself, one at a time;
// with kScanChoosesWorkers, one per processor, and more while they wait on the disk), and writes
// its lines through `writer` as soon as they and every line before them are known. Returns the
// whole tree's totals. Stops early once the report can no longer be written.
FolderTotals scanFolder(const ScanRules& rules, const std::u16string& path, ReportWriter& writer,
                        std::size_t workers);
