// The report as one self-contained HTML page: the settings as its heading, a treemap of the
// folders, a sortable table of the rows and the list of folders that could not be read. The
// page's script builds all of them from the report's data, which the page holds as JSON; the
// page loads nothing from anywhere, and its own policy forbids it to.
#pragma once

#include <cstdint>
#include <string>

#include "view/report_reader.h"

// `madeSeconds`: the moment the page is made, as stampSeconds counts (local time); the colours
// count ages back from the newest stamp not later than it.
std::string htmlPage(const ViewReport& report, std::int64_t madeSeconds);
