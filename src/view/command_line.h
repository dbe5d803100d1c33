// The viewer as a program: treemeter-view [--html | --csv] [REPORT]. It reads a report from the
// file REPORT, or from standard input when REPORT is missing or "-", and writes the page or the
// CSV to standard output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Exit statuses: the output was written; it could not be written; the command line or the input
// was not usable, and nothing was written to standard output.
constexpr int kViewDone = 0;
constexpr int kViewOutputLost = 1;
constexpr int kViewBadInput = 2;

// The whole program, given its command line (program name first) and the name it goes by.
int runView(const std::vector<std::u16string>& arguments, std::string_view programName);
