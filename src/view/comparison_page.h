// Two reports of one folder compared, as one self-contained HTML page: both reports' folders,
// settings and ages as its heading, a summary of what changed, a treemap of the new report
// coloured by each folder's change, the folders of the old report alone beside it, and a table
// of every folder of either report. Like the page of one report, it loads nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "view/comparison.h"
#include "view/report_reader.h"

// `oldName` and `newName` name the reports as the command line did; `madeSeconds` is the moment
// the page is made, as stampSeconds counts.
std::string comparisonPage(const Comparison& comparison, const ViewReport& before,
                           std::string_view oldName, const ViewReport& after,
                           std::string_view newName, std::int64_t madeSeconds);
