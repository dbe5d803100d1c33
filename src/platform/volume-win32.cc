// Win32 volume reading: the device opened unbuffered and overlapped, so that reads go straight to
// the disk in large aligned pieces and several are under way at once. A single read is widened to
// whole aligned blocks and copied out; a stream keeps kReadsInFlight chunks in flight, each in a
// buffer of its own, and hands them out in order.
#include <algorithm>
#include <cstring>

#include "platform/common-win32.h"
#include "platform/volume.h"

namespace {

// A multiple of every sector size, to which unbuffered reads are aligned.
constexpr std::uint64_t kAlignment = 4096;
constexpr DWORD kChunkBytes = 4u << 20;
constexpr std::size_t kReadsInFlight = 4;

std::uint8_t* allocateAligned(std::size_t size) {
  // Whole pages, which are aligned to any sector size.
  return static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

void setOffset(OVERLAPPED& overlapped, std::uint64_t offset) {
  overlapped.Offset = static_cast<DWORD>(offset);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
}

}  // namespace

struct VolumeFile {
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;  // for single reads
};

// One chunk's read, issued into its own buffer.
struct ChunkRead {
  OVERLAPPED overlapped = {};
  std::uint8_t* buffer = nullptr;
  DWORD size = 0;
  bool inFlight = false;
};

struct VolumeStream {
  VolumeFile* volume = nullptr;
  std::vector<VolumeRange> ranges;
  std::size_t range = 0;  // the next chunk to issue lies in this range
  std::uint64_t issuedInRange = 0;
  ChunkRead reads[kReadsInFlight];
  std::size_t current = 0;  // the read handed out next, or last
  bool handedOut = false;
  bool failed = false;
  std::uint8_t* memory = nullptr;
};

namespace {

// Issues the next chunk of the ranges into `read`; leaves it idle when none is left.
void issueNextChunk(VolumeStream& stream, ChunkRead& read) {
  read.inFlight = false;
  while (stream.range < stream.ranges.size() &&
         stream.issuedInRange == stream.ranges[stream.range].size) {
    ++stream.range;
    stream.issuedInRange = 0;
  }
  if (stream.failed || stream.range == stream.ranges.size()) return;
  const VolumeRange& range = stream.ranges[stream.range];
  read.size =
      static_cast<DWORD>(std::min<std::uint64_t>(kChunkBytes, range.size - stream.issuedInRange));
  setOffset(read.overlapped, range.offset + stream.issuedInRange);
  ResetEvent(read.overlapped.hEvent);
  stream.issuedInRange += read.size;
  if (!ReadFile(stream.volume->handle, read.buffer, read.size, nullptr, &read.overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    stream.failed = true;
    return;
  }
  read.inFlight = true;
}

void endStream(VolumeStream* stream) {
  for (ChunkRead& read : stream->reads) {
    if (read.inFlight) {
      DWORD ignored = 0;
      CancelIoEx(stream->volume->handle, &read.overlapped);
      GetOverlappedResult(stream->volume->handle, &read.overlapped, &ignored, TRUE);
    }
    if (read.overlapped.hEvent) CloseHandle(read.overlapped.hEvent);
  }
  if (stream->memory) VirtualFree(stream->memory, 0, MEM_RELEASE);
  delete stream;
}

// Reads `size` bytes at `offset` (both aligned) into `into` (aligned); the count read, or 0.
DWORD readAligned(VolumeFile& volume, std::uint64_t offset, DWORD size, std::uint8_t* into) {
  OVERLAPPED overlapped = {};
  overlapped.hEvent = volume.event;
  setOffset(overlapped, offset);
  ResetEvent(volume.event);
  DWORD count = 0;
  if (!ReadFile(volume.handle, into, size, nullptr, &overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return 0;
  }
  if (!GetOverlappedResult(volume.handle, &overlapped, &count, TRUE)) return 0;
  return count;
}

}  // namespace

VolumeFilePtr openVolumeFile(const std::u16string& path, std::uint32_t& error) {
  HANDLE handle =
      CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return VolumeFilePtr(nullptr, [](VolumeFile*) {});
  }
  auto volume = new VolumeFile;
  volume->handle = handle;
  volume->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return VolumeFilePtr(volume, [](VolumeFile* done) {
    if (done->event) CloseHandle(done->event);
    CloseHandle(done->handle);
    delete done;
  });
}

bool readVolumeBytes(VolumeFile& volume, std::uint64_t offset, std::size_t size,
                     std::uint8_t* into) {
  std::uint64_t start = offset / kAlignment * kAlignment;
  std::uint64_t end = (offset + size + kAlignment - 1) / kAlignment * kAlignment;
  if (end - start > kChunkBytes || !volume.event) return false;
  auto span = static_cast<DWORD>(end - start);
  std::uint8_t* buffer = allocateAligned(span);
  if (!buffer) return false;
  // A read that reaches past the volume's end may come back short; what was asked must be there.
  DWORD count = readAligned(volume, start, span, buffer);
  bool whole = count >= offset + size - start;
  if (whole) std::memcpy(into, buffer + (offset - start), size);
  VirtualFree(buffer, 0, MEM_RELEASE);
  return whole;
}

VolumeStreamPtr streamVolumeRanges(VolumeFile& volume, const std::vector<VolumeRange>& ranges) {
  VolumeStreamPtr stream(new VolumeStream, endStream);
  stream->volume = &volume;
  stream->ranges = ranges;
  stream->memory = allocateAligned(kChunkBytes * kReadsInFlight);
  if (!stream->memory) {
    stream->failed = true;
    return stream;
  }
  for (std::size_t i = 0; i < kReadsInFlight; ++i) {
    ChunkRead& read = stream->reads[i];
    read.buffer = stream->memory + i * kChunkBytes;
    read.overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!read.overlapped.hEvent) stream->failed = true;
  }
  for (ChunkRead& read : stream->reads) issueNextChunk(*stream, read);
  return stream;
}

bool nextVolumeChunk(VolumeStream& stream, std::uint8_t*& data, std::size_t& size) {
  if (stream.handedOut) {
    // The caller is done with the chunk handed out last: its buffer takes the next read.
    issueNextChunk(stream, stream.reads[stream.current]);
    stream.current = (stream.current + 1) % kReadsInFlight;
    stream.handedOut = false;
  }
  ChunkRead& read = stream.reads[stream.current];
  if (stream.failed || !read.inFlight) return false;
  DWORD count = 0;
  read.inFlight = false;
  if (!GetOverlappedResult(stream.volume->handle, &read.overlapped, &count, TRUE) ||
      count != read.size) {
    stream.failed = true;
    return false;
  }
  data = read.buffer;
  size = count;
  stream.handedOut = true;
  return true;
}

bool volumeStreamFailed(const VolumeStream& stream) {
  return stream.failed;
}
