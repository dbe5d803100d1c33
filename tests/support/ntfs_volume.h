// NTFS volumes for the tests of the master file table reading: an image file made by mkntfs and
// filled through an ntfs-3g mount of it, then mounted read-only, so that the Linux scan of the
// mount and the table reading of the image see the same volume. They need root, /dev/fuse, and
// Debian's ntfs-3g package.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct NtfsVolume {
  std::string folder;  // a temporary folder holding the image and the mount point
  std::string image;
  std::string mount;
  pid_t driver = -1;  // the ntfs-3g process that serves the mount
};

// Why NTFS test volumes cannot be made here, or "" when they can.
std::string ntfsVolumesUnavailable();

// An empty volume of `megabytes` (a sparse image) made with mkntfs and these options, mounted
// read-write. Throws std::runtime_error when it cannot be made.
NtfsVolume makeNtfsVolume(int megabytes, const std::vector<std::string>& mkntfsOptions);

// Unmounts the volume, waiting until the image holds everything written, and mounts it again
// read-only.
void mountReadOnly(NtfsVolume& volume);

// Unmounts the volume and removes its folder.
void removeNtfsVolume(NtfsVolume& volume);

// Reparse points written through the mount, as Windows writes them. A junction's target is a
// folder such as X:\data\target; a symbolic link's is that or, when relative, one such as
// ..\target.
void makeJunction(const std::string& path, const std::string& target);
void makeFolderLink(const std::string& path, const std::string& target, bool relative);

// Makes the file or folder at `path` a reparse point with `tag` and a few bytes of data, as a
// filter driver's own reparse points are (a cloud placeholder, a file the system compressed).
void setReparseTag(const std::string& path, std::uint32_t tag);

// Gives the file at `path` a DOS name beside its long one.
void setDosName(const std::string& path, const std::string& dosName);

// Gives the file at `path` a named data stream (an alternate data stream) of `size` bytes.
void addNamedStream(const std::string& path, const std::string& name, std::size_t size);

// Makes the folder compressed: files made in it afterwards are compressed.
void setCompressedFolder(const std::string& path);

// Writes `size` bytes of `byte` at `offset` in the file at `path`, made if need be.
void writeBytes(const std::string& path, std::int64_t offset, std::int64_t size, char byte);
