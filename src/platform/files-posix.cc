// POSIX files: open(2) and read(2).
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/memory.h"

namespace {

// Appends everything `descriptor` gives until its end; 0, or the errno of the read that failed.
std::uint32_t readToEnd(int descriptor, std::string& bytes) {
  std::size_t used = bytes.size();
  for (;;) {
    // Read into the text's own room, at least 64 KiB, which doubles when it is full.
    constexpr std::size_t kLeast = 1 << 16;
    if (bytes.capacity() == used || bytes.capacity() < kLeast) {
      reserveInLargePages(bytes, used < kLeast ? kLeast : 2 * used);
    }
    bytes.resize(bytes.capacity());
    ssize_t got = read(descriptor, bytes.data() + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) bytes.resize(used);
    if (got < 0) return static_cast<std::uint32_t>(errno);
    if (got == 0) return 0;
    used += static_cast<std::size_t>(got);
  }
}

}  // namespace

std::uint32_t readWholeFile(const std::u16string& name, std::string& bytes) {
  std::string nativeName(name.begin(), name.end());  // every unit is one byte of the name
  int descriptor = open(nativeName.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return static_cast<std::uint32_t>(errno);
  // A file's size known, it is read in place, without copies as the text grows.
  struct stat status;
  if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
    reserveInLargePages(bytes, static_cast<std::size_t>(status.st_size) + 1);
  }
  std::uint32_t failure = readToEnd(descriptor, bytes);
  close(descriptor);
  return failure;
}

std::uint32_t readStandardInput(std::string& bytes) {
  return readToEnd(STDIN_FILENO, bytes);
}
