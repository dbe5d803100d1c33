// POSIX standard streams: write(2) on descriptors 1 and 2.
#include <errno.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/console.h"

namespace {

// Writes all of `bytes` to `descriptor`; 0, or the errno of the write that failed.
std::uint32_t writeAll(int descriptor, const char* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t written = write(descriptor, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return static_cast<std::uint32_t>(errno);
    if (written == 0) return EIO;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return 0;
}

}  // namespace

const std::string_view kDiagnosticLineEnd = "\n";
const TextUnits kNativeTextUnits = TextUnits::kBytes;

bool prepareStandardOutput() {
  // A reader that goes away shows as a failed write, so that the run can erase its status line
  // before it ends as the signal would have ended it.
  signal(SIGPIPE, SIG_IGN);
  return isatty(STDOUT_FILENO) == 1;
}

std::uint32_t writeStandardOutput(const char* bytes, std::size_t count) {
  return writeAll(STDOUT_FILENO, bytes, count);
}

void writeStandardError(std::string_view bytes) {
  writeAll(STDERR_FILENO, bytes.data(), bytes.size());
}

bool standardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

bool standardOutputSharesErrorTerminal() {
  struct stat output, error;
  return isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1 &&
         fstat(STDOUT_FILENO, &output) == 0 && fstat(STDERR_FILENO, &error) == 0 &&
         output.st_rdev == error.st_rdev;
}

void replaceErrorTerminalRows(std::string_view bytes) {
  // The text over the row, then ESC [ J: erase from the cursor to the end of the screen. Erasing
  // from after the text rather than from the row's start: some terminals keep a copy of the screen
  // in their scrollback each time it is erased from its top left corner, and a line drawn on the
  // top row would fill the scrollback. A blank stands for an empty text.
  std::string shown = "\r";
  shown += bytes.empty() ? std::string_view(" ") : bytes;
  shown += "\x1b[J\r";
  writeStandardError(shown);
}

bool errorTerminalTakesNoEscapes() {
  const char* terminal = std::getenv("TERM");
  return terminal == nullptr || *terminal == '\0' || std::strcmp(terminal, "dumb") == 0;
}

bool errorTerminalHeldByAnother() {
  struct termios settings;
  return tcgetattr(STDERR_FILENO, &settings) == 0 && (settings.c_lflag & ICANON) == 0;
}

std::size_t errorTerminalColumns() {
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}
