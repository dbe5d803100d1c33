// A volume's bytes read directly, past the file system: the device of a drive (Windows: \\.\X:),
// or a file that holds an image of a volume and stands in for it. One implementation per platform
// (volume-posix.cc, volume-win32.cc).
//
// Reads go to the device unbuffered where the platform allows it, so offsets and sizes of the
// ranges that are streamed must be multiples of the volume's sector size (a cluster's are); single
// reads may lie anywhere. A VolumeFile and its streams belong to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct VolumeFile;
using VolumeFilePtr = std::unique_ptr<VolumeFile, void (*)(VolumeFile*)>;

// Opens the volume or image at `path` (Windows: \\.\X: for drive X:) for reading; null, with the
// system's code in `error`, when it cannot be opened.
VolumeFilePtr openVolumeFile(const std::u16string& path, std::uint32_t& error);

// Reads `size` bytes at `offset` into `into`; false unless every byte was read.
bool readVolumeBytes(VolumeFile& volume, std::uint64_t offset, std::size_t size,
                     std::uint8_t* into);

// A range of a volume's bytes.
struct VolumeRange {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// Reads ranges of a volume in their order, a chunk of a few MiB at a time, with the reads of the
// next chunks under way while the caller looks at one.
struct VolumeStream;
using VolumeStreamPtr = std::unique_ptr<VolumeStream, void (*)(VolumeStream*)>;

VolumeStreamPtr streamVolumeRanges(VolumeFile& volume, const std::vector<VolumeRange>& ranges);

// The next chunk of the ranges, in order, in a buffer of the stream's that the caller may change
// and that stays valid until the next call: false at the end, or when a read failed (then
// volumeStreamFailed says so).
bool nextVolumeChunk(VolumeStream& stream, std::uint8_t*& data, std::size_t& size);
bool volumeStreamFailed(const VolumeStream& stream);
