// The pages' style and scripts, written as src/view/page.css, page.js (what both pages share),
// report.js and comparison.js, and built into the program (see page_assets.cc.in).
#pragma once

#include <string_view>

extern const std::string_view kPageStyle;
extern const std::string_view kPageScript;
extern const std::string_view kReportScript;
extern const std::string_view kComparisonScript;
