// The report as CSV (RFC 4180, UTF-8, CR LF line ends): a header, then one line per row and per
// error line, in the report's order. Sizes are whole bytes, worked back from the report's texts,
// and the headings say so; an error line has empty sizes and the system's code and message in
// the last column. Names are the report's own, invisible characters and all: CSV is data.
#pragma once

#include <string>

#include "view/report_reader.h"

std::string csvTable(const ViewReport& report);
