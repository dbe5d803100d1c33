#include "report/format.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

constexpr int kSignificantDigits = 17;
constexpr int kDecimals = 3;

std::u16string widenAscii(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

// The decimal digit of `digits` x 10^exponent (digits read as d.ddd...) that stands at 10^place.
int digitAt(const std::string& digits, int exponent, int place) {
  int index = exponent - place;
  return index >= 0 && index < static_cast<int>(digits.size()) ? digits[index] - '0' : 0;
}

void appendSignedDecimal(std::u16string& out, std::int64_t value) {
  if (value < 0) {
    out += u'-';
    out += decimalText(0 - static_cast<std::uint64_t>(value));
  } else {
    out += decimalText(static_cast<std::uint64_t>(value));
  }
}

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

std::u16string decimalText(std::uint64_t value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return widenAscii(std::string_view(digits, end - digits));
}

std::u16string renderThreeDecimals(double value) {
  std::u16string out;
  if (!std::isfinite(value)) {
    // As the C library writes them; no size is ever one of these.
    if (std::signbit(value)) out += u'-';
    out += std::isnan(value) ? u"nan" : u"inf";
    return out;
  }
  if (std::signbit(value) && value != 0.0) out += u'-';
  char buffer[64];
  // Scientific form with 16 digits after the point: 17 significant digits, rounded to nearest.
  auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                              std::chars_format::scientific, kSignificantDigits - 1);
  std::string text(buffer, result.ptr);
  std::size_t exponentMark = text.find('e');
  std::string digits = text.substr(0, 1) + text.substr(2, exponentMark - 2);
  int exponent = std::stoi(text.substr(exponentMark + 1));

  // Digits from the highest integer place down to the third decimal, as one number of units of
  // 10^-3, plus one unit when the next digit is 5 or more; the carry runs by itself.
  std::string kept;
  for (int place = exponent > 0 ? exponent : 0; place >= -kDecimals; --place) {
    kept += static_cast<char>('0' + digitAt(digits, exponent, place));
  }
  if (digitAt(digits, exponent, -kDecimals - 1) >= 5) {
    int index = static_cast<int>(kept.size()) - 1;
    while (index >= 0 && kept[index] == '9') kept[index--] = '0';
    if (index >= 0) {
      ++kept[index];
    } else {
      kept.insert(kept.begin(), '1');
    }
  }
  out += widenAscii(kept.substr(0, kept.size() - kDecimals));
  out += u'.';
  out += widenAscii(kept.substr(kept.size() - kDecimals));
  return out;
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
      out += renderThreeDecimals(take().real);
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

std::u16string formatSizeBinary(std::uint64_t bytes) {
  // The unit is chosen by the byte value alone: below 2^30 MB, below 2^40 GB, from there on TB.
  int shift = bytes >= (1ULL << 40) ? 40 : bytes < (1ULL << 30) ? 20 : 30;
  const char16_t* format = shift == 40 ? u"%1.3f TB" : shift == 20 ? u"%1.3f MB" : u"%1.3f GB";
  std::uint64_t fractionMask = (1ULL << shift) - 1;
  double amount = static_cast<double>(bytes >> shift) +
                  std::ldexp(static_cast<double>(bytes & fractionMask), -shift);
  return formatText(format, {realArgument(amount)});
}

std::u16string formatSizeDecimal(std::uint64_t bytes) {
  constexpr std::uint64_t kMega = 1000000ULL;
  constexpr std::uint64_t kGiga = 1000000000ULL;
  constexpr std::uint64_t kTera = 1000000000000ULL;
  std::uint64_t divisor = bytes >= kTera ? kTera : bytes < kGiga ? kMega : kGiga;
  const char16_t* format = bytes >= kTera  ? u"%1.3f TiB"
                           : bytes < kGiga ? u"%1.3f MiB"
                                           : u"%1.3f GiB";
  double amount = static_cast<double>(bytes / divisor) +
                  static_cast<double>(bytes % divisor) / static_cast<double>(divisor);
  return formatText(format, {realArgument(amount)});
}

std::u16string formatStamp(FileTime stamp) {
  SystemTime local;
  if (!toLocalSystemTime(stamp, local)) return {};
  std::u16string date = shortDateText(local);
  if (date.empty()) return {};
  std::u16string time = timeOfDayText(local);
  if (time.empty()) return {};
  return formatText(u"%s %s", {textArgument(date), textArgument(time)});
}
