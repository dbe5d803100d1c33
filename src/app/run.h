// The program's run: banner, settings lines, header, the scan and the root row, or the usage text.
#pragma once

#include <string>
#include <vector>

#include "app/settings.h"

// The whole program, given its command line (program name first). Always returns 0.
int runTreemeter(const std::vector<std::u16string>& arguments);

// Scans the folder argument's tree and makes sure the report holds at least one row.
void runReport(const RunSettings& settings);
