#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

std::uint64_t takeNumber(FuzzInput& input) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8 && input.size > 0; ++i, ++input.data, --input.size) {
    value = value << 8 | *input.data;
  }
  return value;
}

std::u16string takeUnits(FuzzInput& input) {
  std::u16string units;
  if (input.size == 0) return units;
  bool wide = (input.data[0] & 1) != 0;
  std::size_t i = 1;
  for (; wide && i + 1 < input.size; i += 2) {
    units += static_cast<char16_t>(input.data[i] | input.data[i + 1] << 8);
  }
  for (; !wide && i < input.size; ++i) units += static_cast<char16_t>(input.data[i]);
  input.data += input.size;
  input.size = 0;
  return units;
}

std::vector<std::u16string> splitFields(std::u16string_view text, char16_t separator) {
  std::vector<std::u16string> fields(1);
  for (char16_t unit : text) {
    if (unit == separator) {
      fields.emplace_back();
    } else {
      fields.back() += unit;
    }
  }
  return fields;
}

std::string expectedOutputBytes(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) bytes += unit <= 0xFF ? static_cast<char>(unit) : '?';
  return bytes;
}

void require(bool holds, const char* what, std::u16string_view text) {
  if (holds) return;
  std::fprintf(stderr, "property failed: %s\ntext (%zu units):", what, text.size());
  for (char16_t unit : text) std::fprintf(stderr, " %04x", static_cast<unsigned>(unit));
  std::fprintf(stderr, "\n");
  std::abort();
}
