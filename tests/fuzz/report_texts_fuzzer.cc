// The report's texts for any value: both size texts have three decimals and their unit and read
// back to within half a unit of the last decimal; the stamp text is the instant's calendar time;
// renderThreeDecimals agrees with the C library's "%1.3f" up to its documented rounding of
// halves; formatText never exceeds its bound.
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>

#include "fuzz_support.h"
#include "report/format.h"

namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;

struct SizeText {
  unsigned __int128 thousandths;  // the number shown, in units of 0.001
  std::string unit;
};

// Reads "<digits>.<3 digits> <unit>"; false for any other shape.
bool readSizeText(const std::string& text, SizeText& size) {
  static const std::regex shape("([0-9]+)\\.([0-9]{3}) ([A-Za-z]+)");
  std::smatch parts;
  if (!std::regex_match(text, parts, shape)) return false;
  size.thousandths = 0;
  for (char digit : parts[1].str() + parts[2].str())
    size.thousandths = size.thousandths * 10 + (digit - '0');
  size.unit = parts[3];
  return true;
}

// The text shows `bytes` in units of `unitBytes` to within half of 0.001 unit. Rounding goes
// through a double and its 17-digit form, so a half may be met from a hair below: one part in
// 10^15 of the value is allowed on top.
bool readsBackTo(const SizeText& size, std::uint64_t bytes, std::uint64_t unitBytes) {
  unsigned __int128 shown = size.thousandths * unitBytes;
  unsigned __int128 exact = static_cast<unsigned __int128>(bytes) * 1000;
  unsigned __int128 error = shown > exact ? shown - exact : exact - shown;
  unsigned __int128 allowance = unitBytes + exact / 1000000000000000 + 1;
  return 2 * error <= allowance;
}

void checkSizeText(const std::u16string& text, std::uint64_t bytes, const char* const units[3],
                   const std::uint64_t unitBytes[3]) {
  SizeText size;
  require(readSizeText(expectedOutputBytes(text), size),
          "a size text is digits, three decimals, a unit", text);
  int unit = 0;
  while (unit < 3 && size.unit != units[unit]) ++unit;
  require(unit < 3, "a known unit", text);
  require(readsBackTo(size, bytes, unitBytes[unit]), "the size reads back within half a unit",
          text);
}

void checkSizes(std::uint64_t bytes) {
  static const char* const binaryUnits[3] = {"MB", "GB", "TB"};
  static const std::uint64_t binaryBytes[3] = {1ULL << 20, 1ULL << 30, 1ULL << 40};
  static const char* const decimalUnits[3] = {"MiB", "GiB", "TiB"};
  static const std::uint64_t decimalBytes[3] = {1000000ULL, 1000000000ULL, 1000000000000ULL};
  std::u16string binary = formatSizeBinary(bytes);
  std::u16string decimal = formatSizeDecimal(bytes);
  checkSizeText(binary, bytes, binaryUnits, binaryBytes);
  checkSizeText(decimal, bytes, decimalUnits, decimalBytes);
  // The unit is the largest one that the value reaches (MB and MiB below the second unit).
  const char* binaryUnit = bytes >= binaryBytes[2] ? "TB" : bytes >= binaryBytes[1] ? "GB" : "MB";
  const char* decimalUnit = bytes >= decimalBytes[2]   ? "TiB"
                            : bytes >= decimalBytes[1] ? "GiB"
                                                       : "MiB";
  std::string binaryText = expectedOutputBytes(binary);
  std::string decimalText = expectedOutputBytes(decimal);
  require(binaryText.substr(binaryText.rfind(' ') + 1) == binaryUnit, "binary unit", binary);
  require(decimalText.substr(decimalText.rfind(' ') + 1) == decimalUnit, "decimal unit", decimal);
}

// Under TZ=UTC and the C locale the stamp is "%x %X": month/day/year of the century and the time.
void checkStamp(FileTime stamp) {
  std::u16string text = formatStamp(stamp);
  time_t seconds = static_cast<time_t>(stamp / 10000000) - kSecondsFrom1601To1970;
  struct tm fields;
  require(gmtime_r(&seconds, &fields) != nullptr, "the reference converts every stamp");
  char expected[64];
  std::snprintf(expected, sizeof expected, "%02d/%02d/%02d %02d:%02d:%02d", fields.tm_mon + 1,
                fields.tm_mday, (fields.tm_year + 1900) % 100, fields.tm_hour, fields.tm_min,
                fields.tm_sec);
  require(expectedOutputBytes(text) == expected, "the stamp text is the instant's calendar time",
          text);
}

// "%1.3f" rounds the exact binary value half to even; renderThreeDecimals rounds its 17-digit
// decimal form half up. Where 17 digits reach the third decimal they differ only at a half, and
// then by one in the last decimal, away from zero; beyond that the text is the 17-digit form.
void checkThreeDecimals(double value) {
  std::string rendered = expectedOutputBytes(renderThreeDecimals(value));
  int length = std::snprintf(nullptr, 0, "%1.3f", value);
  std::string reference(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(reference.data(), reference.size(), "%1.3f", value);
  reference.resize(static_cast<std::size_t>(length));
  if (rendered == reference) return;
  require(std::isfinite(value), "non-finite values render as the C library renders them");
  static const std::regex shape("-?[0-9]+\\.[0-9]{3}");
  require(std::regex_match(rendered, shape), "digits and three decimals");
  if (value == 0) {
    require(rendered == "0.000", "zero of either sign is 0.000");
    return;
  }
  if (std::fabs(value) >= 1e13) {
    double readBack = std::strtod(rendered.c_str(), nullptr);
    require(std::fabs(readBack - value) <= std::fabs(value) * 1e-16, "the 17-digit form");
    return;
  }
  double exactThousandths = std::fabs(value) * 1000;
  double half = std::floor(exactThousandths) + 0.5;
  require(std::fabs(exactThousandths - half) <= half * 1e-15, "a difference only at a half");
}

void checkFormatText(const std::u16string& format, const std::u16string& text, std::int64_t number,
                     double real) {
  std::u16string out = formatText(
      format, {textArgument(text), numberArgument(number), realArgument(real), textArgument(text)});
  require(out.size() <= kFormatTextLimit, "formatText stays within its bound", format);
  if (format.find(u'%') == format.npos) {
    require(out == format.substr(0, kFormatTextLimit), "a format without % is itself", format);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC", 1);
  setenv("LC_ALL", "C", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input = {data, size};
  std::uint64_t value = takeNumber(input);
  std::uint64_t other = takeNumber(input);
  checkSizes(value);
  checkSizes(value >> (other & 63));
  checkStamp(value);
  checkStamp(value >> (other & 63));
  double real;
  std::memcpy(&real, &other, sizeof real);
  checkThreeDecimals(real);
  checkThreeDecimals(static_cast<double>(value) / 1000.0);
  std::u16string format = takeUnits(input);
  checkFormatText(format, format, static_cast<std::int64_t>(value), real);
  return 0;
}
