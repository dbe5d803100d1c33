// The command line: readSettings over every argument count and any texts, with readNumber and
// applySizeSuffixes checked against independent references (the C library's strtoll, and shifts
// in 128-bit arithmetic).
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "app/settings.h"
#include "fuzz_support.h"

namespace {

constexpr std::int64_t kLowest64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kHighest64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kLowest32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kHighest32 = std::numeric_limits<std::int32_t>::max();

// strtoll's reading of the text, bounded. A unit beyond ASCII is neither white space, sign nor
// digit to either reader, so it stands in as "x".
std::int64_t referenceNumber(std::u16string_view text, std::int64_t lowest, std::int64_t highest) {
  std::string ascii;
  for (char16_t unit : text) ascii += unit < 0x80 ? static_cast<char>(unit) : 'x';
  errno = 0;
  long long value = std::strtoll(ascii.c_str(), nullptr, 10);
  return value < lowest ? lowest : value > highest ? highest : value;
}

bool containsEither(std::u16string_view text, std::u16string_view lower,
                    std::u16string_view upper) {
  return text.find(lower) != text.npos || text.find(upper) != text.npos;
}

std::int64_t referenceSuffixes(std::int64_t size, std::u16string_view text) {
  const std::u16string_view lower[] = {u"kb", u"mb", u"gb", u"tb"};
  const std::u16string_view upper[] = {u"KB", u"MB", u"GB", u"TB"};
  __int128 value = size;
  for (int i = 0; i < 4; ++i) {
    if (containsEither(text, lower[i], upper[i])) value *= __int128(1) << (10 * (i + 1));
    if (value > kHighest64) value = kHighest64;
  }
  return static_cast<std::int64_t>(value);
}

bool isYes(std::u16string_view text) {
  if (text.size() != 3) return false;
  return (text[0] | 0x20) == u'y' && (text[1] | 0x20) == u'e' && (text[2] | 0x20) == u's';
}

void checkNumbers(const std::u16string& text, std::uint64_t boundsSeed) {
  require(readNumber(text, kLowest64, kHighest64) == referenceNumber(text, kLowest64, kHighest64),
          "readNumber agrees with strtoll in 64 bits", text);
  require(readNumber(text, kLowest32, kHighest32) == referenceNumber(text, kLowest32, kHighest32),
          "readNumber agrees with strtoll in 32 bits", text);
  // Any bounds around zero: the saturation must hold for every range, not only the two in use.
  std::int64_t lowest = -static_cast<std::int64_t>(boundsSeed >> 48);
  std::int64_t highest = static_cast<std::int64_t>(boundsSeed & 0xFFFF);
  require(readNumber(text, lowest, highest) == referenceNumber(text, lowest, highest),
          "readNumber saturates at any bounds", text);
}

void checkSettings(const std::vector<std::u16string>& arguments) {
  RunSettings settings;
  FileTime before = currentFileTime();
  bool accepted = readSettings(arguments, settings);
  FileTime after = currentFileTime();
  bool complete = arguments.size() >= 6;
  std::int64_t size = complete ? referenceNumber(arguments[2], kLowest64, kHighest64) : 0;
  require(accepted == (complete && size >= 0), "usage text exactly for too few or a negative size");
  if (!accepted) return;
  require(settings.processReparsePoints == isYes(arguments[1]), "reparse flag", arguments[1]);
  require(settings.minSize >= 0, "threshold never negative", arguments[2]);
  require(settings.minSize == referenceSuffixes(size, arguments[2]), "threshold", arguments[2]);
  require(settings.maxDepth == referenceNumber(arguments[4], kLowest32, kHighest32), "depth",
          arguments[4]);
  require(settings.folderArg == arguments[5], "folder as typed", arguments[5]);
  std::int64_t days = referenceNumber(arguments[3], kLowest32, kHighest32);
  if (days <= 0) {
    require(settings.dayCutoff == 0, "no filter for no days", arguments[3]);
    return;
  }
  // In 128 bits: from about 21 million days on, the span no longer fits in a FileTime.
  unsigned __int128 span = static_cast<unsigned __int128>(days) * kFileTimeUnitsPerDay;
  FileTime earliest = before > span ? static_cast<FileTime>(before - span) : 1;
  FileTime latest = after > span ? static_cast<FileTime>(after - span) : 1;
  require(settings.dayCutoff >= earliest && settings.dayCutoff <= latest,
          "cut-off lies the day count before now, or at the earliest instant", arguments[3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input = {data, size};
  std::uint64_t seed = takeNumber(input);
  // Arguments are separated by NUL, which no command line can carry inside an argument.
  std::vector<std::u16string> arguments = splitFields(takeUnits(input), u'\0');
  for (const auto& argument : arguments) checkNumbers(argument, seed);
  checkSettings(arguments);
  auto anySize = static_cast<std::int64_t>(seed >> 1);
  for (const auto& argument : arguments) {
    std::int64_t shifted = applySizeSuffixes(anySize, argument);
    require(shifted == referenceSuffixes(anySize, argument), "suffixes of any size", argument);
  }
  return 0;
}
