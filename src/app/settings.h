// The five positional arguments, read into the settings of one run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

struct RunSettings {
  bool processReparsePoints = false;
  std::int64_t minSize = 0;
  FileTime dayCutoff = 0;
  std::int32_t maxDepth = 0;
  std::u16string folderArg;
};

// A decimal number as the C library reads one: leading white space, one optional sign, the digits
// up to the first other character; 0 without digits. Values beyond the bounds saturate.
std::int64_t readNumber(std::u16string_view text, std::int64_t lowest, std::int64_t highest);

// The size with its KB, MB, GB and TB suffixes applied, each found anywhere in the text and each at
// most once; only all-lower-case and all-upper-case spellings count. A shift past the largest
// 64-bit value saturates there rather than wrapping.
std::int64_t applySizeSuffixes(std::int64_t size, std::u16string_view text);

// The instant `days` days before `now`, or 0 for no filter when days is 0 or less. A count that
// reaches before 1601 gives the earliest instant, 1, so that every file still counts.
FileTime dayCutoffFrom(std::int32_t days, FileTime now);

// Reads the command line (program name first) into `settings`; false when the arguments are
// incomplete or the size is negative, which calls for the usage text.
bool readSettings(const std::vector<std::u16string>& arguments, RunSettings& settings);
