#include "report/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace {

constexpr int kSignificantDigits = 17;
constexpr int kDecimals = 3;

void appendAscii(std::u16string& out, const char* begin, const char* end) {
  for (; begin != end; ++begin) out += static_cast<char16_t>(*begin);
}

// The largest finite double has 309 integer digits.
constexpr int kMostIntegerDigits = 309;

// The decimal digit of `digits` x 10^exponent (digits read as d.ddd...) that stands at 10^place.
int digitAt(const char (&digits)[kSignificantDigits], int exponent, int place) {
  int index = exponent - place;
  return index >= 0 && index < kSignificantDigits ? digits[index] - '0' : 0;
}

// The text that `append` adds to an empty string: each text has one implementation, the appending
// one that rows are built with.
template <auto append, typename Value>
std::u16string textOf(Value value) {
  std::u16string out;
  append(out, value);
  return out;
}

void appendSignedDecimal(std::u16string& out, std::int64_t value) {
  if (value < 0) {
    out += u'-';
    appendDecimal(out, 0 - static_cast<std::uint64_t>(value));
  } else {
    appendDecimal(out, static_cast<std::uint64_t>(value));
  }
}

// One unit of a size text: its size in bytes and its label, with the blank before it.
struct SizeUnit {
  std::uint64_t bytes;
  std::u16string_view label;
};

// The size in the largest of the three units that it reaches (the first below them all), with
// three decimals. The whole units and the remainder are converted apart, so the amount is as
// exact as a double allows even for sizes beyond 2^53 bytes.
void appendSize(std::u16string& out, std::uint64_t bytes, const SizeUnit (&units)[3]) {
  const SizeUnit* unit = &units[0];
  for (const SizeUnit& larger : units) {
    if (bytes >= larger.bytes) unit = &larger;
  }
  double amount = static_cast<double>(bytes / unit->bytes) +
                  static_cast<double>(bytes % unit->bytes) / static_cast<double>(unit->bytes);
  appendThreeDecimals(out, amount);
  out += unit->label;
}

// U+0080 to U+009F.
bool isC1Control(char16_t unit) {
  return unit >= 0x80 && unit <= 0x9F;
}

// The first of the two bytes of U+0080 to U+00BF in UTF-8.
constexpr char16_t kUtf8LeadOfC1 = 0xC2;

}  // namespace

FormatArgument textArgument(std::u16string_view text) {
  return {text, 0, 0.0};
}
FormatArgument numberArgument(std::int64_t number) {
  return {{}, number, 0.0};
}
FormatArgument realArgument(double real) {
  return {{}, 0, real};
}

void appendDecimal(std::u16string& out, std::uint64_t value) {
  char digits[24];
  appendAscii(out, digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void appendShownPath(std::u16string& out, std::u16string_view path, TextUnits units) {
  out.reserve(out.size() + path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    char16_t unit = path[i];
    if (units == TextUnits::kBytes && unit == kUtf8LeadOfC1 && i + 1 < path.size() &&
        isC1Control(path[i + 1])) {
      ++i;
      unit = u'?';
    } else if (unit < u' ' || unit == u'\x7f' ||
               (units == TextUnits::kUtf16 && isC1Control(unit))) {
      unit = u'?';
    }
    out += unit;
  }
}

std::u16string decimalText(std::uint64_t value) {
  return textOf<appendDecimal>(value);
}

void appendThreeDecimals(std::u16string& out, double value) {
  if (!std::isfinite(value)) {
    // As the C library writes them; no size is ever one of these.
    if (std::signbit(value)) out += u'-';
    out += std::isnan(value) ? u"nan" : u"inf";
    return;
  }
  if (std::signbit(value) && value != 0.0) out += u'-';
  char text[64];
  // Scientific form with 16 digits after the point: 17 significant digits, rounded to nearest.
  char* textEnd = std::to_chars(text, text + sizeof text, std::fabs(value),
                                std::chars_format::scientific, kSignificantDigits - 1)
                      .ptr;
  const char* exponentMark = std::find(text, textEnd, 'e');
  char digits[kSignificantDigits];
  digits[0] = text[0];
  std::copy(text + 2, text + 1 + kSignificantDigits, digits + 1);
  int exponent = 0;
  std::from_chars(exponentMark + (exponentMark[1] == '+' ? 2 : 1), textEnd, exponent);

  // Digits from the highest integer place down to the third decimal, as one number of units of
  // 10^-3, plus one unit when the next digit is 5 or more; the carry runs by itself. kept[0] is
  // room for a carry out of the highest place.
  char kept[kMostIntegerDigits + kDecimals + 2];
  std::size_t keptEnd = 1;
  for (int place = exponent > 0 ? exponent : 0; place >= -kDecimals; --place) {
    kept[keptEnd++] = static_cast<char>('0' + digitAt(digits, exponent, place));
  }
  std::size_t keptStart = 1;
  if (digitAt(digits, exponent, -kDecimals - 1) >= 5) {
    std::size_t index = keptEnd;
    while (index > keptStart && kept[index - 1] == '9') kept[--index] = '0';
    if (index > keptStart) {
      ++kept[index - 1];
    } else {
      kept[--keptStart] = '1';
    }
  }
  appendAscii(out, kept + keptStart, kept + keptEnd - kDecimals);
  out += u'.';
  appendAscii(out, kept + keptEnd - kDecimals, kept + keptEnd);
}

std::u16string renderThreeDecimals(double value) {
  return textOf<appendThreeDecimals>(value);
}

std::u16string formatText(std::u16string_view format,
                          std::initializer_list<FormatArgument> arguments) {
  std::u16string out;
  const FormatArgument* next = arguments.begin();
  FormatArgument missing;
  auto take = [&]() -> const FormatArgument& {
    return next != arguments.end() ? *next++ : missing;
  };
  for (std::size_t i = 0; i < format.size(); ++i) {
    std::u16string_view rest = format.substr(i);
    if (rest.substr(0, 2) == u"%s") {
      out += take().text;
      ++i;
    } else if (rest.substr(0, 2) == u"%d") {
      appendSignedDecimal(out, take().number);
      ++i;
    } else if (rest.substr(0, 5) == u"%1.3f") {
      appendThreeDecimals(out, take().real);
      i += 4;
    } else if (rest.substr(0, 2) == u"%%") {
      out += u'%';
      ++i;
    } else {
      out += format[i];
    }
  }
  if (out.size() > kFormatTextLimit) out.resize(kFormatTextLimit);
  return out;
}

void appendSizeBinary(std::u16string& out, std::uint64_t bytes) {
  static const SizeUnit kBinaryUnits[] = {
      {1ULL << 20, u" MB"}, {1ULL << 30, u" GB"}, {1ULL << 40, u" TB"}};
  appendSize(out, bytes, kBinaryUnits);
}

void appendSizeDecimal(std::u16string& out, std::uint64_t bytes) {
  static const SizeUnit kDecimalUnits[] = {
      {1000000ULL, u" MiB"}, {1000000000ULL, u" GiB"}, {1000000000000ULL, u" TiB"}};
  appendSize(out, bytes, kDecimalUnits);
}

std::u16string formatSizeBinary(std::uint64_t bytes) {
  return textOf<appendSizeBinary>(bytes);
}

std::u16string formatSizeDecimal(std::uint64_t bytes) {
  return textOf<appendSizeDecimal>(bytes);
}

std::u16string formatStamp(FileTime stamp) {
  SystemTime local;
  if (!toLocalSystemTime(stamp, local)) return {};
  std::u16string date = shortDateText(local);
  std::u16string time = date.empty() ? std::u16string() : timeOfDayText(local);
  if (time.empty()) return {};
  return formatText(u"%s %s", {textArgument(date), textArgument(time)});
}

void appendStamp(std::u16string& out, FileTime stamp, StampTexts& recent) {
  constexpr FileTime kUnitsPerSecond = 10000000ULL;
  FileTime second = stamp / kUnitsPerSecond;
  StampTexts::Kept& slot = recent.kept[second % StampTexts::kKeptSeconds];
  if (!slot.known || slot.second != second) {
    slot.text = formatStamp(stamp);
    slot.known = true;
    slot.second = second;
  }
  out += slot.text;
}
