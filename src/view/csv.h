// The report as CSV (RFC 4180, UTF-8, CR LF line ends): a header, then one line per row and per
// error line, in the report's order. Sizes are whole bytes, worked back from the report's texts,
// and the headings say so; an error line has empty sizes and the system's code and message in
// the last column. Names are the report's own, invisible characters and all: CSV is data.
#pragma once

#include <string>

#include "view/comparison.h"
#include "view/report_reader.h"

std::string csvTable(const ViewReport& report);

// The comparison of two reports as CSV: a line per folder of either report, in the comparison's
// order, with its total size in each (empty where that report has no row for it), the change
// where it is known, and its state.
std::string csvChanges(const Comparison& comparison, const ViewReport& before,
                       const ViewReport& after);
