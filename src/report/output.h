// The report's one output stream: the banner, the settings, the rows and the error lines all go
// through one ReportOutput, in program order, one byte a code unit. The run owns it and writes
// every line through it, the lines the scan makes known among them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct ReportOutput {
  static constexpr std::size_t kBufferBytes = 1 << 16;
  std::unique_ptr<char[]> buffer = std::make_unique<char[]>(kBufferBytes);
  std::size_t buffered = 0;
  // Decided at the first write, so that nothing touches standard output before the tool prints.
  bool prepared = false;
  bool flushEachLine = false;  // standard output is a terminal
  // The system's code for the write that failed; 0 while everything went out. Once set, nothing
  // more is written: the report is lost from there on.
  std::uint32_t failure = 0;
};

// Writes text to standard output, one byte a code unit: U+0000 to U+00FF as that byte, any other
// unit as "?". Lines are flushed as they end when standard output is a terminal.
void writeText(ReportOutput& output, std::u16string_view text);

// Hands everything buffered to standard output; false once the report could not be written.
bool flushOutput(ReportOutput& output);

// The bytes the tool writes for a text, on any of its streams: one a code unit, U+0000 to U+00FF
// as that byte and any other unit as "?".
char outputByte(char16_t unit);
std::string outputBytes(std::u16string_view text);
