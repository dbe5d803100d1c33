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

bool isConsole(DWORD standardHandle) {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

}  // namespace

const std::string_view kDiagnosticLineEnd = "\r\n";
const TextUnits kNativeTextUnits = TextUnits::kUtf16;

bool prepareStandardOutput() {
  // Only a console asks for lines to be flushed as they end.
  return isConsole(STD_OUTPUT_HANDLE);
}

std::uint32_t writeStandardOutput(const char* bytes, std::size_t count) {
  return writeAll(GetStdHandle(STD_OUTPUT_HANDLE), bytes, count);
}

void writeStandardError(std::string_view bytes) {
  writeAll(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), bytes.size());
}

bool standardErrorIsTerminal() {
  return isConsole(STD_ERROR_HANDLE);
}

bool standardOutputSharesErrorTerminal() {
  // A process has one console at most.
  return isConsole(STD_OUTPUT_HANDLE) && isConsole(STD_ERROR_HANDLE);
}

std::size_t errorTerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO information;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &information)) return 80;
  return static_cast<std::size_t>(information.srWindow.Right - information.srWindow.Left + 1);
}

bool errorTerminalTakesNoEscapes() {
  return false;
}

bool errorTerminalHeldByAnother() {
  HANDLE input =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  bool held = GetConsoleMode(input, &mode) && (mode & ENABLE_LINE_INPUT) == 0;
  CloseHandle(input);
  return held;
}

void replaceErrorTerminalRows(std::string_view bytes) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO information;
  if (!GetConsoleScreenBufferInfo(error, &information)) return;
  // Down to the end of the buffer: a folded line may reach below the window.
  COORD rowStart = {0, information.dwCursorPosition.Y};
  DWORD cells = static_cast<DWORD>(information.dwSize.X) *
                static_cast<DWORD>(information.dwSize.Y - rowStart.Y);
  DWORD filled = 0;
  FillConsoleOutputCharacterA(error, ' ', cells, rowStart, &filled);
  FillConsoleOutputAttribute(error, information.wAttributes, cells, rowStart, &filled);
  SetConsoleCursorPosition(error, rowStart);
  writeAll(error, bytes.data(), bytes.size());
  SetConsoleCursorPosition(error, rowStart);
}
