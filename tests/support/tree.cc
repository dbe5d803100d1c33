#include "support/tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace {

void check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("cannot " + what);
}

}  // namespace

std::string makeTemporaryFolder(const std::string& base) {
  std::string pattern = base + "/treemeter-test-XXXXXX";
  check(mkdtemp(pattern.data()) != nullptr, "make a temporary folder");
  check(chmod(pattern.c_str(), 0755) == 0, "open the temporary folder to all");
  return pattern;
}

void removeTree(const std::string& path) {
  // rm copes with trees deeper than any path limit; folders a test locked are opened first.
  std::string command = "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
  check(std::system(command.c_str()) == 0, "remove " + path);
}

void makeFolder(const std::string& path) {
  check(mkdir(path.c_str(), 0755) == 0, "mkdir " + path);
}

void makeFile(const std::string& path, std::int64_t size, std::int64_t modifiedSeconds) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  check(fd >= 0, "create " + path);
  check(ftruncate(fd, size) == 0, "size " + path);
  close(fd);
  setModified(path, modifiedSeconds);
}

void makeLink(const std::string& target, const std::string& path) {
  check(symlink(target.c_str(), path.c_str()) == 0, "link " + path);
}

void setModified(const std::string& path, std::int64_t seconds, long nanoseconds) {
  timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                       {static_cast<time_t>(seconds), nanoseconds}};
  check(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0, "stamp " + path);
}
