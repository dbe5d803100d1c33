#include "report/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

TEST(SizeTexts, BinaryAndDecimalUnitsAreChosenByTheByteValueAndRoundedHalfUp) {
  struct Case {
    std::uint64_t bytes;
    const char16_t* binary;
    const char16_t* decimal;
  };
  const Case cases[] = {
      {0, u"0.000 MB", u"0.000 MiB"},
      {11500, u"0.011 MB", u"0.012 MiB"},
      {62500, u"0.060 MB", u"0.063 MiB"},
      {65536, u"0.063 MB", u"0.066 MiB"},
      {1048575, u"1.000 MB", u"1.049 MiB"},
      {999999999, u"953.674 MB", u"1000.000 MiB"},
      {1073741823, u"1024.000 MB", u"1.074 GiB"},
      {1073741824, u"1.000 GB", u"1.074 GiB"},
      {999999999999, u"931.323 GB", u"1000.000 GiB"},
      {1000000000000, u"931.323 GB", u"1.000 TiB"},
      {1099511627775, u"1024.000 GB", u"1.100 TiB"},
      {1099511627776, u"1.000 TB", u"1.100 TiB"},
      {5497558138880, u"5.000 TB", u"5.498 TiB"},
      {std::numeric_limits<std::uint64_t>::max(), u"16777216.000 TB", u"18446744.074 TiB"},
      // 2^63: the threshold that a signed reading would show as negative.
      {9223372036854775808ULL, u"8388608.000 TB", u"9223372.037 TiB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatSizeBinary(c.bytes), c.binary) << c.bytes;
    EXPECT_EQ(formatSizeDecimal(c.bytes), c.decimal) << c.bytes;
  }
}

TEST(ThreeDecimals, TheSeventeenDigitFormRoundsHalfUpWithCarry) {
  struct Case {
    double value;
    const char16_t* expected;
  };
  const Case cases[] = {
      {0.0, u"0.000"},
      {0.0625, u"0.063"},       // an exact half rounds up, not to even
      {0.0115, u"0.012"},       // 0.011499999... reads 0.011500000000000000 to 17 digits
      {999.9996, u"1000.000"},  // the carry runs through every digit
      {9.9995, u"9.999"},       // 9.9994999999999994: the digit after the third place is 4
      {0.0005, u"0.001"},
      {0.000499, u"0.000"},
      {1.0, u"1.000"},
      {123456789.0, u"123456789.000"},
      {16777216.0, u"16777216.000"},
      {1e20, u"100000000000000000000.000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatText(u"%1.3f", {realArgument(c.value)}), c.expected) << c.value;
  }
}

TEST(FormatText, ResultsAreCutTo511Units) {
  const std::u16string exact(511, u'x');
  const std::u16string longer(600, u'y');
  EXPECT_EQ(formatText(exact, {}), exact);
  EXPECT_EQ(formatText(exact + u"z", {}), exact);
  EXPECT_EQ(formatText(u"%s", {textArgument(longer)}), longer.substr(0, 511));
  EXPECT_EQ(formatText(u"ab%s", {textArgument(longer)}), u"ab" + longer.substr(0, 509));
  EXPECT_EQ(formatText(u"%s%s", {textArgument(longer), textArgument(u"tail")}),
            longer.substr(0, 511));
}

TEST(FormatText, PercentSignsInArgumentsAreNeverReinterpreted) {
  EXPECT_EQ(formatText(u"100%%", {}), u"100%");
  EXPECT_EQ(formatText(u"%%s", {textArgument(u"unused")}), u"%s");
  EXPECT_EQ(formatText(u"%s", {textArgument(u"50%d%s%%\\n")}), u"50%d%s%%\\n");
  EXPECT_EQ(formatText(u"%s %s", {textArgument(u"%s"), textArgument(u"b")}), u"%s b");
}

TEST(FormatText, NumbersAreSigned32BitDecimals) {
  struct Case {
    std::int64_t number;
    const char16_t* expected;
  };
  const Case cases[] = {
      {0, u"(0): "},
      {5, u"(5): "},
      {-5, u"(-5): "},
      {std::numeric_limits<std::int32_t>::max(), u"(2147483647): "},
      {std::numeric_limits<std::int32_t>::min(), u"(-2147483648): "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatText(u"(%d): ", {numberArgument(c.number)}), c.expected) << c.number;
  }
}

TEST(DecimalText, CountsBeyond32BitsAreWrittenInFull) {
  EXPECT_EQ(decimalText(0), u"0");
  EXPECT_EQ(decimalText(3000000000ULL), u"3000000000");
  EXPECT_EQ(decimalText(4294967301ULL), u"4294967301");
  EXPECT_EQ(decimalText(std::numeric_limits<std::uint64_t>::max()), u"18446744073709551615");
}

// A name's control characters become "?" in the form each platform's names take: C0 and DEL, and
// C1, which a terminal may take as escapes (U+009B starts a control sequence). Where names are
// bytes, C1 is its two UTF-8 bytes, and bytes 0x80 to 0x9F inside other characters stay.
TEST(ShownPath, ControlCharactersBecomeQuestionMarksInEitherPlatformsNames) {
  struct Case {
    std::u16string path;
    TextUnits units;
    std::u16string shown;
  };
  const Case cases[] = {
      {u"a\tb\nc\x1b[2J\x7f~", TextUnits::kBytes, u"a?b?c?[2J?~"},
      {u"evil\xc2\x9b"
       u"2J",
       TextUnits::kBytes, u"evil?2J"},
      {u"\xc2\x80\xc2\x9f\xc2\xa0\xc2\x7f", TextUnits::kBytes, u"??\xc2\xa0\xc2?"},
      // U+015B and U+201C hold 0x9B, 0x80 and 0x9C as continuation bytes; lone bytes stay too.
      {u"\xc5\x9b\xe2\x80\x9c\x9b\x85\xc2", TextUnits::kBytes, u"\xc5\x9b\xe2\x80\x9c\x9b\x85\xc2"},
      {u"\xc2\xc2\x9b", TextUnits::kBytes, u"\xc2?"},
      {u"a\tb\x7f", TextUnits::kUtf16, u"a?b?"},
      {u"evil\x9b"
       u"2J\x80\x85\x9f\xa0\xc2\x15b",
       TextUnits::kUtf16, u"evil?2J???\xa0\xc2\x15b"},
      {u"\xc2\x9b", TextUnits::kUtf16, u"\xc2?"},
  };
  for (const auto& c : cases) {
    std::u16string shown = u"kept ";
    appendShownPath(shown, c.path, c.units);
    EXPECT_EQ(shown, u"kept " + c.shown) << std::string(c.path.begin(), c.path.end());
  }
}

}  // namespace
