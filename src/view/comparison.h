// Two reports of one folder compared, folder by folder. Folders match by their path below each
// report's folder, so reports of one tree under two names (\\server\share and Z:\) compare, and
// so do a Windows and a Linux report of it; when both are Windows reports, without regard to case
// (of ASCII and Latin-1 letters, all that Treemeter.exe writes), as Windows' file systems match
// names. Sizes are total sizes, as the reports' texts give them.
//
// A folder in one report only is new or gone only where the other report would have listed it at
// any size: where its threshold lets every folder holding a byte through (a threshold of at most
// 0.003 MB, since a folder that holds a byte takes 4096 on disk). Elsewhere the other report's
// own lines tell why it has no row there, in this order: the folder, or one above it, could not
// be read there; that report ends early, before it perhaps; the folder lies deeper than any row of
// that report (whose depth limit the settings lines do not state); or its threshold kept the
// folder out, which it does to a folder that did not exist, too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "view/report_reader.h"

enum class ChangeState : std::uint8_t {
  kGrew,
  kShrank,
  kUnchanged,       // both sizes known, their difference within the texts' precision
  kNew,             // in the new report only, and the old one would have listed it
  kGone,            // in the old report only, and the new one would have listed it
  kBelowThreshold,  // in one report only, the other's threshold kept it out
  kBeyondDepth,     // in one report only, deeper than any row of the other
  kUnreadable,      // in one report only; it, or a folder above it, could not be read in the other
  kNotReached,      // in one report only; the other ends early
};

// What the change in bytes is known to be.
enum class ChangeBound : std::uint8_t {
  kExact,    // `change` is it, to the texts' precision
  kAtLeast,  // it is `change` or more (a folder that grew past the old report's threshold)
  kAtMost,   // it is `change` or less (a folder that shrank below the new report's threshold)
  kUnknown,
};

struct FolderChange {
  std::ptrdiff_t oldRow = -1, newRow = -1;  // its row in each report, or -1
  std::ptrdiff_t parent = -1;  // the nearest folder above it among Comparison::folders, or -1
  ChangeState state = ChangeState::kUnchanged;
  ChangeBound bound = ChangeBound::kUnknown;
  std::int64_t change = 0;  // new size less old size, in bytes, as `bound` says
  std::uint64_t slack = 0;  // how far the texts' rounding may put `change` from the truth
};

struct Comparison {
  // The new report's rows, in its order, then the old report's folders that the new one lacks,
  // in the old one's order.
  std::vector<FolderChange> folders;
  // Why the two cannot be compared: they are reports of two different folders. Empty when they
  // can.
  std::string differentFolders;
  // What the reader of the comparison should bear in mind: settings that differ.
  std::vector<std::string> warnings;
  std::string oldRoot, newRoot;  // each report's folder as its rows show it (reportRoot)
};

Comparison compareReports(const ViewReport& before, const ViewReport& after);

// A folder's path: the new report's, or for a folder of the old report only, its path below the
// old report's folder joined to the new report's folder. UTF-8.
std::string changePath(const Comparison& comparison, std::size_t index, const ViewReport& before,
                       const ViewReport& after);

// The report's folder as its rows show it.
std::string reportRoot(const ViewReport& report);

// The state's name in the CSV and on the page: "grew", "below the threshold"...
std::string_view stateName(ChangeState state);
