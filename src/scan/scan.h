// The folder scan: totals the bytes, bytes on disk, entries and latest write stamp of a tree, and
// yields the report's lines (a row for every folder that reaches the threshold within the
// reporting depth, an error line where a folder cannot be listed) in depth-first post-order, as
// soon as they and every line before them are known. Several folders are read at once; the lines
// are those a scan of one folder at a time gives, in the same order, whatever the timing.
//
// The caller takes the lines at its own pace: a caller that takes none holds the scan back, with
// bounded memory, and one that takes them again lets it go on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/listing.h"
#include "scan/folder_tree.h"
#include "scan/totals.h"

// The worker count with which the scan chooses for itself how many folder reads to keep in flight.
constexpr std::size_t kScanChoosesWorkers = 0;

struct Scan;
using ScanPtr = std::unique_ptr<Scan, void (*)(Scan*)>;

// Starts scanning the folder at `path` (in the form the platform lists) and everything below it,
// reading folders through `listing`, with `workers` folder reads in flight: with 1, the thread
// that takes the lines reads every folder itself, one at a time; with kScanChoosesWorkers, as many
// as the storage rewards. Letting the scan go stops it, after the listings in flight.
ScanPtr startScan(const ScanRules& rules, const std::u16string& path, ListingContext& listing,
                  std::size_t workers);

// Appends the lines that became known since the last call, waiting up to `wait` for some; false
// once the scan is finished and every line has been taken.
bool takeReportLines(Scan& scan, std::vector<ReportLine>& lines, std::chrono::milliseconds wait);

// Hands out no more folders, and appends every line the folders listed so far make known.
void stopScan(Scan& scan, std::vector<ReportLine>& lines);

// The whole tree's totals, once takeReportLines has said the scan is finished.
FolderTotals treeTotals(const Scan& scan);

// Whether the folder the scan started at could be listed, once takeReportLines has said the scan
// is finished.
bool topFolderListed(const Scan& scan);

// How far a scan has come.
struct ScanCounts {
  std::uint64_t folders = 0;  // listed so far
  std::uint64_t entries = 0;  // in those folders' listings
  std::int64_t totalBytes = 0;
  std::u16string waitingFor;  // the folder the report waits for, in the form the platform lists
  // Every lister waits, as many lines as may wait are ready, and the scan moves on only once they
  // are taken: the taker holds the scan back.
  bool heldByTaker = false;
};

ScanCounts countsSoFar(Scan& scan);
