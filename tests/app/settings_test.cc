#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kLowest64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kHighest64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kLowest32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kHighest32 = std::numeric_limits<std::int32_t>::max();

// A moment in 2026, in 100-nanosecond units since 1601.
constexpr FileTime kNow = 134100000000000000ULL;

std::string shown(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

TEST(ReadNumber, ReadsLikeTheCLibraryAndSaturatesAtTheBounds) {
  struct Case {
    const char16_t* text;
    std::int64_t lowest, highest, expected;
  };
  const std::u16string manyDigits(5000, u'9');
  const std::u16string manyNegativeDigits = u"-" + manyDigits;
  const Case cases[] = {
      {u"239", kLowest64, kHighest64, 239},
      {u"9223372036854775807", kLowest64, kHighest64, kHighest64},
      {u"9223372036854775808", kLowest64, kHighest64, kHighest64},
      {u"-9223372036854775808", kLowest64, kHighest64, kLowest64},
      {u"-9223372036854775809", kLowest64, kHighest64, kLowest64},
      {manyDigits.c_str(), kLowest64, kHighest64, kHighest64},
      {manyNegativeDigits.c_str(), kLowest64, kHighest64, kLowest64},
      {u"2147483647", kLowest32, kHighest32, kHighest32},
      {u"2147483648", kLowest32, kHighest32, kHighest32},
      {u"-2147483648", kLowest32, kHighest32, kLowest32},
      {u"-2147483649", kLowest32, kHighest32, kLowest32},
      {manyDigits.c_str(), kLowest32, kHighest32, kHighest32},
      {manyNegativeDigits.c_str(), kLowest32, kHighest32, kLowest32},
      {u"00000000000000000000000000000012", kLowest32, kHighest32, 12},
      {u" \t\n\v\f\r42", kLowest64, kHighest64, 42},
      {u"+7", kLowest64, kHighest64, 7},
      {u"-7", kLowest64, kHighest64, -7},
      {u"-0", kLowest64, kHighest64, 0},
      {u"12abc", kLowest64, kHighest64, 12},
      {u"1e3", kLowest64, kHighest64, 1},
      {u"0x10", kLowest64, kHighest64, 0},
      {u"", kLowest64, kHighest64, 0},
      {u"abc", kLowest64, kHighest64, 0},
      {u"+", kLowest64, kHighest64, 0},
      {u"-", kLowest64, kHighest64, 0},
      {u"+-5", kLowest64, kHighest64, 0},
      {u"- 5", kLowest64, kHighest64, 0},
      {u"GB5", kLowest64, kHighest64, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(readNumber(c.text, c.lowest, c.highest), c.expected)
        << shown(c.text).substr(0, 40) << " within [" << c.lowest << ", " << c.highest << "]";
  }
}

TEST(SizeSuffixes, EachSuffixAppliesOnceInEitherAllLowerOrAllUpperCase) {
  struct Case {
    const char16_t* text;
    std::int64_t expected;
  };
  const Case cases[] = {
      {u"239", 239},
      {u"1025MB", 1074790400},
      {u"1KBMB", 1073741824},
      {u"2kB", 2},
      {u"2Kb", 2},
      {u"1kbKB", 1024},
      {u"1mb", 1048576},
      {u"3gbGB", 3221225472},
      {u"2TB", 2199023255552},
      {u"1TBKB", 1125899906842624},
      {u"5 MB", 5242880},
      {u"GB5", 0},
      {u"0TB", 0},
      {u"0KBMBGBTB", 0},
      {u"8388607TB", 9223370937343148032},
  };
  for (const auto& c : cases) {
    std::int64_t size = readNumber(c.text, kLowest64, kHighest64);
    EXPECT_EQ(applySizeSuffixes(size, c.text), c.expected) << shown(c.text);
  }
}

TEST(SizeSuffixes, AShiftPastTheLargestSizeSaturatesInsteadOfWrapping) {
  const char16_t* texts[] = {u"8388608TB", u"17179869184TB", u"9223372036854775807KB",
                             u"4294967296KBMBGB", u"99999999999999999999TB"};
  for (const char16_t* text : texts) {
    std::int64_t size = readNumber(text, kLowest64, kHighest64);
    EXPECT_EQ(applySizeSuffixes(size, text), kHighest64) << shown(text);
  }
}

TEST(DayCutoff, NoFilterForACountOfZeroOrLess) {
  for (std::int32_t days : {0, -3, -1, static_cast<std::int32_t>(kLowest32)}) {
    EXPECT_EQ(dayCutoffFrom(days, kNow), 0u) << days;
  }
}

TEST(DayCutoff, CountsWholeDaysBackFromNow) {
  EXPECT_EQ(dayCutoffFrom(1, kNow), kNow - kFileTimeUnitsPerDay);
  EXPECT_EQ(dayCutoffFrom(12, kNow), kNow - 12 * kFileTimeUnitsPerDay);
}

TEST(DayCutoff, ACountReachingBefore1601GivesTheEarliestInstantNotAWrappedOne) {
  constexpr FileTime kDayAligned = 1000 * kFileTimeUnitsPerDay + 5;
  EXPECT_EQ(dayCutoffFrom(999, kDayAligned), kFileTimeUnitsPerDay + 5);
  EXPECT_EQ(dayCutoffFrom(1000, kDayAligned), 5u);
  EXPECT_EQ(dayCutoffFrom(1001, kDayAligned), 1u);
  // The cut-off would be exactly 1601-01-01, which as 0 would mean no filter at all.
  EXPECT_EQ(dayCutoffFrom(1000, 1000 * kFileTimeUnitsPerDay), 1u);
  // Counts whose span no longer fits in 64 bits: 21350399 days wraps to less than one day.
  for (std::int32_t days : {200000, 21350398, 21350399, 30000000, 2147483647}) {
    EXPECT_EQ(dayCutoffFrom(days, kNow), 1u) << days;
  }
}

struct SettingsCase {
  std::vector<std::u16string> arguments;
  bool accepted;
};

TEST(ReadSettings, TooFewArgumentsOrANegativeSizeCallForTheUsageText) {
  const SettingsCase cases[] = {
      {{u"treemeter"}, false},
      {{u"treemeter", u"yes", u"5GB", u"0", u"/srv"}, false},
      {{u"treemeter", u"yes", u"-1", u"0", u"0", u"/srv"}, false},
      {{u"treemeter", u"yes", u"-1KB", u"0", u"0", u"/srv"}, false},
      {{u"treemeter", u"yes", u"-9999999999999999999999", u"0", u"0", u"/srv"}, false},
      {{u"treemeter", u"yes", u"5GB", u"0", u"0", u"/srv"}, true},
      {{u"treemeter", u"", u"", u"", u"", u""}, true},
      {{u"treemeter", u"no", u"-0", u"0", u"0", u"/srv", u"extra", u"more"}, true},
  };
  for (const auto& c : cases) {
    RunSettings settings;
    EXPECT_EQ(readSettings(c.arguments, settings), c.accepted) << c.arguments.size();
  }
}

TEST(ReadSettings, FieldsComeFromTheirArguments) {
  RunSettings settings;
  ASSERT_TRUE(readSettings(
      {u"treemeter", u"yes", u"1025MB", u"0", u"99999999999", u" \"a b\\", u"ignored"}, settings));
  EXPECT_TRUE(settings.processReparsePoints);
  EXPECT_EQ(settings.minSize, 1074790400);
  EXPECT_EQ(settings.dayCutoff, 0u);
  EXPECT_EQ(settings.maxDepth, kHighest32);
  EXPECT_EQ(settings.folderArg, u" \"a b\\");

  ASSERT_TRUE(readSettings({u"treemeter", u"no", u"0", u"-3", u"-99999999999", u"x"}, settings));
  EXPECT_EQ(settings.maxDepth, kLowest32);
  EXPECT_EQ(settings.dayCutoff, 0u);

  FileTime before = currentFileTime();
  ASSERT_TRUE(readSettings({u"treemeter", u"no", u"0", u"12", u"0", u"x"}, settings));
  FileTime after = currentFileTime();
  EXPECT_GE(settings.dayCutoff, before - 12 * kFileTimeUnitsPerDay);
  EXPECT_LE(settings.dayCutoff, after - 12 * kFileTimeUnitsPerDay);
}

TEST(ReadSettings, ReparseFlagIsYesInAnyLetterCaseAndNothingElse) {
  struct Case {
    const char16_t* text;
    bool expected;
  };
  const Case cases[] = {{u"yes", true},   {u"YES", true},   {u"Yes", true}, {u"yEs", true},
                        {u"y", false},    {u"true", false}, {u"no", false}, {u"yes ", false},
                        {u" yes", false}, {u"yess", false}, {u"", false},   {u"1", false}};
  for (const auto& c : cases) {
    RunSettings settings;
    ASSERT_TRUE(readSettings({u"treemeter", c.text, u"0", u"0", u"0", u"x"}, settings));
    EXPECT_EQ(settings.processReparsePoints, c.expected) << shown(c.text);
  }
}

}  // namespace
