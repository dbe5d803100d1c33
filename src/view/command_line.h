// The viewer as a program: treemeter-view [--html | --csv] [--date-order ORDER] [REPORT]. It reads
// a report from the file REPORT, or from standard input when REPORT is missing or "-", and writes
// the page or the CSV to standard output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Exit statuses: the output was written; it could not be written; the command line or the input
// was not usable, and nothing was written to standard output.
constexpr int kViewDone = 0;
constexpr int kViewOutputLost = 1;
constexpr int kViewBadInput = 2;

// What the program is called on its platform, and the example its usage text ends with.
struct ViewProgram {
  std::string_view name;
  std::string_view example;
};

// The whole program, given its command line (program name first).
int runView(const std::vector<std::u16string>& arguments, const ViewProgram& program);
