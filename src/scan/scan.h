// The folder scan: totals the bytes, bytes on disk, entries and latest write stamp of a tree, and
// yields the report's lines (a row for every folder that reaches the threshold within the
// reporting depth, an error line where a folder cannot be listed) in depth-first post-order, as
// soon as they and every line before them are known. Several folders are read at once; the lines
// are those a scan of one folder at a time gives, in the same order, whatever the timing.
//
// The caller takes the lines at its own pace and writes them: a caller that takes none holds the
// scan back, with bounded memory, and one that takes them again lets it go on.
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

// The lister count with which the scan chooses for itself how many folders to list at once.
constexpr std::size_t kScanChoosesListers = 0;

struct Scan;
using ScanPtr = std::unique_ptr<Scan, void (*)(Scan*)>;

// Starts scanning the folder at `path` (in the form the platform lists) and everything below it,
// reading folders through `listing` with `listers` listings in flight, or with
// kScanChoosesListers as many as the storage rewards. Letting the scan go stops it, after the
// listings in flight.
ScanPtr startScan(const ScanRules& rules, const std::u16string& path, ListingContext& listing,
                  std::size_t listers);

// Appends the lines that became known since the last call, waiting up to `wait` for some; false
// once the scan is finished and every line has been taken.
bool takeReportLines(Scan& scan, std::vector<ReportLine>& lines, std::chrono::milliseconds wait);

// Hands out no more folders, and appends every line the folders listed so far make known. It does
// not wait for the listings in flight.
void stopScan(Scan& scan, std::vector<ReportLine>& lines);

// The whole tree's totals, once takeReportLines has said the scan is finished.
FolderTotals treeTotals(const Scan& scan);

// Whether the folder the scan started at could be listed, once takeReportLines has said the scan
// is finished.
bool topFolderListed(const Scan& scan);

ScanProgress progressOf(Scan& scan);
