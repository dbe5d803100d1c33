#include "report/output.h"

#include <algorithm>

#include "platform/console.h"

namespace {

void prepareOnce(ReportOutput& output) {
  if (!output.prepared) {
    output.flushEachLine = prepareStandardOutput();
    output.prepared = true;
  }
}

}  // namespace

void writeText(ReportOutput& output, std::u16string_view text) {
  prepareOnce(output);
  bool lineEnded = output.flushEachLine && text.find(u'\n') != std::u16string_view::npos;
  while (!text.empty() && output.failure == 0) {
    if (output.buffered == ReportOutput::kBufferBytes) flushOutput(output);
    std::size_t count = std::min(text.size(), ReportOutput::kBufferBytes - output.buffered);
    char* out = output.buffer.get() + output.buffered;
    for (std::size_t i = 0; i < count; ++i) {
      out[i] = outputByte(text[i]);
    }
    output.buffered += count;
    text.remove_prefix(count);
  }
  if (lineEnded) flushOutput(output);
}

char outputByte(char16_t unit) {
  return unit <= 0xFF ? static_cast<char>(unit) : '?';
}

std::string outputBytes(std::u16string_view text) {
  std::string bytes(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) bytes[i] = outputByte(text[i]);
  return bytes;
}

bool flushOutput(ReportOutput& output) {
  prepareOnce(output);
  if (output.buffered > 0 && output.failure == 0) {
    output.failure = writeStandardOutput(output.buffer.get(), output.buffered);
  }
  output.buffered = 0;
  return output.failure == 0;
}
