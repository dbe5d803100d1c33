// Win32 standard streams: WriteFile on the standard handles, untouched by the runtime's text mode.
#include "platform/common-win32.h"
#include "platform/console.h"

namespace {

// Writes all of `bytes` to `handle`; 0, or the system's code for the write that failed.
std::uint32_t writeAll(HANDLE handle, const char* bytes, std::size_t count) {
  while (count > 0) {
    DWORD chunk = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(handle, bytes, chunk, &written, nullptr)) return GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    bytes += written;
    count -= written;
  }
  return 0;
}

}  // namespace

const std::string_view kDiagnosticLineEnd = "\r\n";

bool prepareStandardOutput() {
  // Only a console asks for lines to be flushed as they end.
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::uint32_t writeStandardOutput(const char* bytes, std::size_t count) {
  return writeAll(GetStdHandle(STD_OUTPUT_HANDLE), bytes, count);
}

void writeStandardError(std::string_view bytes) {
  writeAll(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), bytes.size());
}
