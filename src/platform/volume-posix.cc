// POSIX volume reading: pread on the device or image file. The page cache reads ahead of a
// sequential stream, so one read at a time keeps the stream busy.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/volume.h"

namespace {

constexpr std::size_t kChunkBytes = 4u << 20;

}  // namespace

struct VolumeFile {
  int descriptor = -1;
};

struct VolumeStream {
  VolumeFile* volume = nullptr;
  std::vector<VolumeRange> ranges;
  std::size_t range = 0;
  std::uint64_t doneInRange = 0;
  std::vector<std::uint8_t> buffer;
  bool failed = false;
};

VolumeFilePtr openVolumeFile(const std::u16string& path, std::uint32_t& error) {
  // Each 16-bit unit is the byte of the same value, as everywhere on POSIX.
  std::string bytes(path.begin(), path.end());
  int descriptor = open(bytes.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    error = static_cast<std::uint32_t>(errno);
    return VolumeFilePtr(nullptr, [](VolumeFile*) {});
  }
  posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
  return VolumeFilePtr(new VolumeFile{descriptor}, [](VolumeFile* done) {
    close(done->descriptor);
    delete done;
  });
}

bool readVolumeBytes(VolumeFile& volume, std::uint64_t offset, std::size_t size,
                     std::uint8_t* into) {
  while (size > 0) {
    ssize_t count = pread(volume.descriptor, into, size, static_cast<off_t>(offset));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    into += count;
    offset += static_cast<std::uint64_t>(count);
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

VolumeStreamPtr streamVolumeRanges(VolumeFile& volume, const std::vector<VolumeRange>& ranges) {
  VolumeStreamPtr stream(new VolumeStream, [](VolumeStream* done) { delete done; });
  stream->volume = &volume;
  stream->ranges = ranges;
  stream->buffer.resize(kChunkBytes);
  return stream;
}

bool nextVolumeChunk(VolumeStream& stream, std::uint8_t*& data, std::size_t& size) {
  while (!stream.failed && stream.range < stream.ranges.size()) {
    const VolumeRange& range = stream.ranges[stream.range];
    if (stream.doneInRange == range.size) {
      ++stream.range;
      stream.doneInRange = 0;
      continue;
    }
    size = static_cast<std::size_t>(
        std::min<std::uint64_t>(kChunkBytes, range.size - stream.doneInRange));
    if (!readVolumeBytes(*stream.volume, range.offset + stream.doneInRange, size,
                         stream.buffer.data())) {
      stream.failed = true;
      return false;
    }
    stream.doneInRange += size;
    data = stream.buffer.data();
    return true;
  }
  return false;
}

bool volumeStreamFailed(const VolumeStream& stream) {
  return stream.failed;
}
