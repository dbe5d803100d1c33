// The program's run: banner, settings lines, header, the scan and the root row, or the usage text.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/listing.h"
#include "report/rows.h"

// What a run takes besides its command line: where folders are listed from, how many listings are
// in flight, and the clock by which the report is handed over and the status line drawn. The
// program gives the platform's listing and the system's steady clock; a test gives a scripted
// listing and a clock it moves itself, so that what happens when is decided by the test.
struct RunSources {
  ListingContext& listing;
  std::size_t listers;
  std::function<std::chrono::steady_clock::time_point()> now;
};

// The whole program, given its command line (program name first). Returns the exit status: 0;
// 1 when the folder argument could not be listed, or the report could not be written whole; 2
// for the usage text.
int runTreemeter(const std::vector<std::u16string>& arguments, const RunSources& sources);

// runTreemeter for the command line as a POSIX system gives it (bytes, program name first), over
// the platform's listing and clock, with `listers` folder listings in flight.
int runPosixProgram(int argc, char** argv, std::size_t listers);

// Scans the folder argument's tree and makes sure the report holds at least one row. False when
// the folder argument itself could not be listed.
bool runReport(const RunSettings& settings, ReportWriter& writer, const RunSources& sources);
