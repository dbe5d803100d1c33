// Checks that what the program printed is a well-formed report line by line, whatever the tree:
// the banner, the settings lines and the header, then only report rows and error lines, each
// ending in CR LF. Written for the test environment (TZ=UTC, LC_ALL=C).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The lines of `out` without their CR LF; `complete` is false when the text does not end with CR
// LF or holds a line feed without its carriage return.
std::vector<std::string> splitReportLines(const std::string& out, bool& complete);

// path, total size (MB, GB or TB), size on disk (MiB, GiB or TiB), count, stamp or nothing.
bool isReportRow(const std::string& line);

// "Error accessing folder: ", the path, ": ", and "(code): " with the message unless the system
// has none.
bool isErrorLine(const std::string& line);

// The whole output of a run on a valid command line: preamble, header, then rows and error lines
// only, at least one row. Folder names must hold no tab, carriage return or line feed.
testing::AssertionResult isWellFormedReport(const std::string& out);

// The whole output of a run whose command line calls for the usage text.
testing::AssertionResult isUsageReport(const std::string& out);
