#include "support/ntfs_volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "support/tree.h"

namespace {

void check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("cannot " + what + ": " + std::strerror(errno));
}

// The path of a program, searched where Debian installs the ntfs-3g tools; "" when not found.
std::string findTool(const std::string& name) {
  for (const char* folder : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
    std::string path = folder + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return "";
}

// Starts `words` with its output discarded; the child's process id.
pid_t startTool(const std::vector<std::string>& words) {
  pid_t child = fork();
  check(child >= 0, "fork");
  if (child == 0) {
    int nothing = open("/dev/null", O_RDWR);
    dup2(nothing, 0);
    dup2(nothing, 1);
    dup2(nothing, 2);
    std::vector<char*> argv;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

int waitForTool(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void runTool(const std::vector<std::string>& words) {
  if (waitForTool(startTool(words)) != 0) throw std::runtime_error("cannot run " + words[0]);
}

bool isMounted(const std::string& path) {
  struct stat mount, parent;
  return stat(path.c_str(), &mount) == 0 && stat((path + "/..").c_str(), &parent) == 0 &&
         mount.st_dev != parent.st_dev;
}

// Mounts the image with an ntfs-3g that stays in the foreground, so that its end can be awaited.
void mountVolume(NtfsVolume& volume, const std::string& options) {
  volume.driver = startTool(
      {findTool("ntfs-3g"), "-o", "no_detach,noatime," + options, volume.image, volume.mount});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!isMounted(volume.mount)) {
    if (std::chrono::steady_clock::now() > deadline || waitpid(volume.driver, nullptr, WNOHANG)) {
      throw std::runtime_error("cannot mount " + volume.image);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void unmountVolume(NtfsVolume& volume) {
  if (volume.driver < 0) return;
  runTool({findTool("umount"), volume.mount});
  // The driver writes what it holds before it ends.
  waitForTool(volume.driver);
  volume.driver = -1;
}

void setAttribute(const std::string& path, const char* name, const std::string& value) {
  check(setxattr(path.c_str(), name, value.data(), value.size(), 0) == 0,
        std::string("set ") + name + " of " + path);
}

void append16(std::string& bytes, unsigned value) {
  bytes.push_back(static_cast<char>(value & 0xFF));
  bytes.push_back(static_cast<char>(value >> 8));
}

void append32(std::string& bytes, std::uint32_t value) {
  append16(bytes, value & 0xFFFF);
  append16(bytes, value >> 16);
}

// ASCII text as UTF-16LE.
std::string utf16(const std::string& text) {
  std::string bytes;
  for (unsigned char c : text) append16(bytes, c);
  return bytes;
}

// A reparse point's bytes: the tag, the data's length, and the names a junction or link holds.
std::string reparseData(std::uint32_t tag, const std::string& substitute, const std::string& print,
                        bool withFlags, std::uint32_t flags) {
  std::string names =
      utf16(substitute) + std::string(2, '\0') + utf16(print) + std::string(2, '\0');
  std::string data;
  append16(data, 0);
  append16(data, static_cast<unsigned>(2 * substitute.size()));
  append16(data, static_cast<unsigned>(2 * substitute.size() + 2));
  append16(data, static_cast<unsigned>(2 * print.size()));
  if (withFlags) append32(data, flags);
  data += names;
  std::string bytes;
  append32(bytes, tag);
  append16(bytes, static_cast<unsigned>(data.size()));
  append16(bytes, 0);
  return bytes + data;
}

constexpr std::uint32_t kMountPointTag = 0xA0000003;
constexpr std::uint32_t kSymbolicLinkTag = 0xA000000C;

}  // namespace

std::string ntfsVolumesUnavailable() {
  if (geteuid() != 0) return "NTFS test volumes are mounted with ntfs-3g, which needs root";
  if (access("/dev/fuse", R_OK | W_OK) != 0) return "NTFS test volumes need /dev/fuse";
  for (const char* tool : {"mkntfs", "ntfs-3g", "umount"}) {
    if (findTool(tool).empty()) {
      return std::string(tool) + " is not installed (Debian packages ntfs-3g and mount)";
    }
  }
  return "";
}

NtfsVolume makeNtfsVolume(int megabytes, const std::vector<std::string>& mkntfsOptions) {
  NtfsVolume volume;
  volume.folder = makeTemporaryFolder();
  volume.image = volume.folder + "/volume.img";
  volume.mount = volume.folder + "/mount";
  makeFolder(volume.mount);
  int image = open(volume.image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  check(image >= 0 && ftruncate(image, std::int64_t{megabytes} << 20) == 0, "make " + volume.image);
  close(image);
  // -F: an image, not a device; -f: no zeroing of the volume; -q: quietly.
  std::vector<std::string> words = {findTool("mkntfs"), "-F", "-f", "-q"};
  words.insert(words.end(), mkntfsOptions.begin(), mkntfsOptions.end());
  words.push_back(volume.image);
  runTool(words);
  mountVolume(volume, "rw");
  return volume;
}

void mountReadOnly(NtfsVolume& volume) {
  unmountVolume(volume);
  mountVolume(volume, "ro");
}

void removeNtfsVolume(NtfsVolume& volume) {
  if (volume.folder.empty()) return;
  unmountVolume(volume);
  removeTree(volume.folder);
  volume.folder.clear();
}

void makeJunction(const std::string& path, const std::string& target) {
  makeFolder(path);
  setAttribute(path, "system.ntfs_reparse_data",
               reparseData(kMountPointTag, "\\??\\" + target, target, false, 0));
}

void makeFolderLink(const std::string& path, const std::string& target, bool relative) {
  makeFolder(path);
  std::string substitute = relative ? target : "\\??\\" + target;
  setAttribute(path, "system.ntfs_reparse_data",
               reparseData(kSymbolicLinkTag, substitute, target, true, relative ? 1 : 0));
}

void setReparseTag(const std::string& path, std::uint32_t tag) {
  std::string bytes;
  append32(bytes, tag);
  append16(bytes, 8);
  append16(bytes, 0);
  setAttribute(path, "system.ntfs_reparse_data", bytes + std::string(8, '\1'));
}

void setDosName(const std::string& path, const std::string& dosName) {
  setAttribute(path, "system.ntfs_dos_name", dosName);
}

void addNamedStream(const std::string& path, const std::string& name, std::size_t size) {
  // ntfs-3g shows a file's named streams as its user attributes.
  setAttribute(path, ("user." + name).c_str(), std::string(size, 's'));
}

void setCompressedFolder(const std::string& path) {
  // The folder's attributes, big-endian: FILE_ATTRIBUTE_DIRECTORY and FILE_ATTRIBUTE_COMPRESSED.
  setAttribute(path, "system.ntfs_attrib_be", std::string("\x00\x00\x08\x10", 4));
}

void writeBytes(const std::string& path, std::int64_t offset, std::int64_t size, char byte) {
  int file = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  check(file >= 0, "open " + path);
  std::string bytes(static_cast<std::size_t>(size), byte);
  check(pwrite(file, bytes.data(), bytes.size(), offset) == size, "write " + path);
  close(file);
}
