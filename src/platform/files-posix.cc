// POSIX files: open(2) and read(2).
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/files.h"

namespace {

// Appends everything `descriptor` gives until its end; 0, or the errno of the read that failed.
std::uint32_t readToEnd(int descriptor, std::string& bytes) {
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = read(descriptor, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return static_cast<std::uint32_t>(errno);
    if (got == 0) return 0;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

std::uint32_t readWholeFile(const std::u16string& name, std::string& bytes) {
  std::string nativeName(name.begin(), name.end());  // every unit is one byte of the name
  int descriptor = open(nativeName.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return static_cast<std::uint32_t>(errno);
  std::uint32_t failure = readToEnd(descriptor, bytes);
  close(descriptor);
  return failure;
}

std::uint32_t readStandardInput(std::string& bytes) {
  return readToEnd(STDIN_FILENO, bytes);
}
