// The program's run: banner, settings lines, header, the scan and the root row, or the usage text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/listing.h"
#include "report/rows.h"

// The whole program, given its command line (program name first), keeping up to `workers` folder
// reads in flight. Returns the exit status: 0, or 1 when the report could not be written whole.
int runTreemeter(const std::vector<std::u16string>& arguments, std::size_t workers);

// runTreemeter reading folders through `listing` rather than the system's own listing.
int runTreemeter(const std::vector<std::u16string>& arguments, ListingContext& listing,
                 std::size_t workers);

// runTreemeter for the command line as a POSIX system gives it: bytes, program name first.
int runPosixProgram(int argc, char** argv, std::size_t workers);

// Scans the folder argument's tree and makes sure the report holds at least one row.
void runReport(const RunSettings& settings, ReportWriter& writer, ListingContext& listing,
               std::size_t workers);
