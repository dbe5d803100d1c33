#include "report/output.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include "platform/platform.h"

namespace {

constexpr std::size_t kOutputBufferBytes = 1 << 16;
// The exit status of a run whose report could not be written whole.
constexpr int kOutputLostStatus = 1;

char outputBuffer[kOutputBufferBytes];
std::size_t bufferedBytes = 0;
// Decided at the first write, so that the tool never touches standard output before it prints.
bool outputPrepared = false;
bool flushEachLine = false;

void prepareOnce() {
  if (!outputPrepared) {
    flushEachLine = prepareStandardOutput();
    outputPrepared = true;
  }
}

}  // namespace

void writeText(std::u16string_view text) {
  prepareOnce();
  bool lineEnded = flushEachLine && text.find(u'\n') != std::u16string_view::npos;
  while (!text.empty()) {
    if (bufferedBytes == kOutputBufferBytes) flushOutput();
    std::size_t count = std::min(text.size(), kOutputBufferBytes - bufferedBytes);
    char* out = outputBuffer + bufferedBytes;
    for (std::size_t i = 0; i < count; ++i) {
      out[i] = text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
    }
    bufferedBytes += count;
    text.remove_prefix(count);
  }
  if (lineEnded) flushOutput();
}

void flushOutput() {
  prepareOnce();
  if (bufferedBytes == 0) return;
  std::size_t count = bufferedBytes;
  bufferedBytes = 0;
  // A report that cannot be written (a full disk, a reader that went away) is lost from here on:
  // scanning further would report nothing, and a status of 0 would call a broken report whole.
  if (!writeStandardOutput(outputBuffer, count)) std::exit(kOutputLostStatus);
}
