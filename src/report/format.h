// The small text builders of the report: the bounded formatter, the two size texts and the
// time-stamp text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/console.h"

// Longest text formatText produces; a longer result is cut to its first kFormatTextLimit units.
constexpr std::size_t kFormatTextLimit = 511;

// One argument of formatText. Build it with textArgument, numberArgument or realArgument.
struct FormatArgument {
  std::u16string_view text;
  std::int64_t number = 0;
  double real = 0.0;
};

FormatArgument textArgument(std::u16string_view text);
FormatArgument numberArgument(std::int64_t number);
FormatArgument realArgument(double real);

// Formats by the printf conventions the report needs: "%s" takes a text, "%d" a number in
// decimal, "%1.3f" a real with three decimals (see renderThreeDecimals), "%%" a percent sign.
// Arguments are taken in order; a missing one formats as empty or zero.
std::u16string formatText(std::u16string_view format,
                          std::initializer_list<FormatArgument> arguments);

// The real with three digits after the point, rounded half up from its 17-significant-digit form,
// so that 0.0115 gives 0.012 where the C library would give 0.011.
std::u16string renderThreeDecimals(double value);

// Sizes in units of 2^20, 2^30 and 2^40 bytes, labelled MB, GB and TB.
std::u16string formatSizeBinary(std::uint64_t bytes);

// Sizes in units of 10^6, 10^9 and 10^12 bytes, labelled MiB, GiB and TiB.
std::u16string formatSizeDecimal(std::uint64_t bytes);

// The local short date, a blank and the local time of a stamp; empty when a conversion fails.
std::u16string formatStamp(FileTime stamp);

// A number in decimal digits, without padding or grouping.
std::u16string decimalText(std::uint64_t value);

// The same texts appended to `out`, so that a row is built without a temporary string per column.
void appendThreeDecimals(std::u16string& out, double value);
void appendSizeBinary(std::u16string& out, std::uint64_t bytes);
void appendSizeDecimal(std::u16string& out, std::uint64_t bytes);
void appendDecimal(std::u16string& out, std::uint64_t value);

// A path as the report, its error lines, its settings line and the status line show it: each
// control character becomes "?", so that no name can add a line or a column to the report or send
// an escape sequence to a terminal. Control characters are those below U+0020, U+007F, and
// U+0080 to U+009F, which a terminal that honours them takes as escapes (U+009B starts a control
// sequence): where names are bytes, their UTF-8 forms C2 80 to C2 9F, each one "?", while a lone
// byte 0x80 to 0x9F is part of another character and stays. Mapped while appended, so that a row
// costs no extra allocation.
void appendShownPath(std::u16string& out, std::u16string_view path,
                     TextUnits units = kNativeTextUnits);

// The stamp texts of recent seconds, kept by whoever writes many rows: a tree's folders share few
// distinct latest stamps, and the local time conversion costs more than the rest of a row.
struct StampTexts {
  struct Kept {
    bool known = false;
    FileTime second = 0;
    std::u16string text;
  };
  static constexpr std::size_t kKeptSeconds = 64;
  Kept kept[kKeptSeconds];
};

// formatStamp's text appended to `out`, taken from `recent` when its second is there.
void appendStamp(std::u16string& out, FileTime stamp, StampTexts& recent);
