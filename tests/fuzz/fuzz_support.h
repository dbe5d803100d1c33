// What the fuzz targets share: turning the fuzzer's bytes into the tool's texts and numbers, and
// stopping with a message when a property fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The bytes the fuzzer gives, consumed from the front.
struct FuzzInput {
  const std::uint8_t* data;
  std::size_t size;
};

// The next 8 bytes as a number (fewer when the input runs short; 0 when it is empty).
std::uint64_t takeNumber(FuzzInput& input);

// The rest of the input as 16-bit units: when its first byte is odd, each following pair of bytes
// is one unit (any unit, as Windows gives them); otherwise each following byte is one unit, as a
// POSIX system gives them.
std::u16string takeUnits(FuzzInput& input);

// The text cut at each `separator` unit.
std::vector<std::u16string> splitFields(std::u16string_view text, char16_t separator);

// The bytes the tool's output carries for a text: units up to U+00FF as themselves, others as "?".
std::string expectedOutputBytes(std::u16string_view text);

// Stops the fuzzer with `what` and the offending text when `holds` is false.
void require(bool holds, const char* what, std::u16string_view text = {});
