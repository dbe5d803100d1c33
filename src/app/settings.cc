#include "app/settings.h"

#include <cstddef>
#include <limits>

namespace {

constexpr std::size_t kArgumentCount = 6;  // the program name and five settings

bool isWhiteSpace(char16_t unit) {
  return unit == u' ' || (unit >= u'\t' && unit <= u'\r');
}

bool equalsIgnoringCase(std::u16string_view text, std::u16string_view lowerCase) {
  if (text.size() != lowerCase.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t unit = text[i] >= u'A' && text[i] <= u'Z' ? text[i] - u'A' + u'a' : text[i];
    if (unit != lowerCase[i]) return false;
  }
  return true;
}

bool contains(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != std::u16string_view::npos;
}

std::int64_t shiftSaturating(std::int64_t value, int shift) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
  if (value > (kLargest >> shift)) return kLargest;
  return value << shift;
}

}  // namespace

std::int64_t readNumber(std::u16string_view text, std::int64_t lowest, std::int64_t highest) {
  std::size_t i = 0;
  while (i < text.size() && isWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  // Accumulate towards the bound on the number's own side so that the bound itself is reachable.
  // A step stays within the bound when the value is short of the bound's tenth, or equals it and
  // the digit does not pass the bound's last digit.
  const std::int64_t bound = negative ? lowest : highest;
  const std::int64_t boundTenth = bound / 10;
  const int boundLastDigit = static_cast<int>(negative ? -(bound % 10) : bound % 10);
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    int digit = text[i] - u'0';
    bool withinBound = negative ? value > boundTenth : value < boundTenth;
    if (!withinBound && (value != boundTenth || digit > boundLastDigit)) return bound;
    value = negative ? value * 10 - digit : value * 10 + digit;
  }
  return value;
}

std::int64_t applySizeSuffixes(std::int64_t size, std::u16string_view text) {
  const struct {
    std::u16string_view lower, upper;
    int shift;
  } suffixes[] = {{u"kb", u"KB", 10}, {u"mb", u"MB", 20}, {u"gb", u"GB", 30}, {u"tb", u"TB", 40}};
  for (const auto& suffix : suffixes) {
    if (contains(text, suffix.lower) || contains(text, suffix.upper)) {
      size = shiftSaturating(size, suffix.shift);
    }
  }
  return size;
}

FileTime dayCutoffFrom(std::int32_t days, FileTime now) {
  if (days <= 0) return 0;
  // Compared in days first: 2^31 days of units do not fit in 64 bits and would wrap.
  if (static_cast<FileTime>(days) > now / kFileTimeUnitsPerDay) return 1;
  FileTime span = static_cast<FileTime>(days) * kFileTimeUnitsPerDay;
  return span >= now ? 1 : now - span;
}

bool readSettings(const std::vector<std::u16string>& arguments, RunSettings& settings) {
  if (arguments.size() < kArgumentCount) return false;
  constexpr std::int64_t kLowest64 = std::numeric_limits<std::int64_t>::min();
  constexpr std::int64_t kHighest64 = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kLowest32 = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kHighest32 = std::numeric_limits<std::int32_t>::max();

  settings.processReparsePoints = equalsIgnoringCase(arguments[1], u"yes");
  std::int64_t size = readNumber(arguments[2], kLowest64, kHighest64);
  settings.maxDepth = static_cast<std::int32_t>(readNumber(arguments[4], kLowest32, kHighest32));
  if (size < 0) return false;
  settings.minSize = applySizeSuffixes(size, arguments[2]);
  auto days = static_cast<std::int32_t>(readNumber(arguments[3], kLowest32, kHighest32));
  settings.dayCutoff = dayCutoffFrom(days, currentFileTime());
  settings.folderArg = arguments[5];
  return true;
}
