// The page's style and script, written as src/view/page.css and src/view/page.js and built into
// the program (see page_assets.cc.in).
#pragma once

#include <string_view>

extern const std::string_view kPageStyle;
extern const std::string_view kPageScript;
