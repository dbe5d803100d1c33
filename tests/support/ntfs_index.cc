#include "support/ntfs_index.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "ntfs/records.h"

namespace {

constexpr std::uint32_t kIndexRootType = 0x90;
constexpr std::uint32_t kIndexAllocationType = 0xA0;
constexpr std::uint8_t kHasSubnode = 1;
constexpr std::uint8_t kLastEntry = 2;

void check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("index walk: " + what);
}

std::uint64_t little(const std::uint8_t* at, int size) {
  std::uint64_t value = 0;
  for (int i = size; i-- > 0;) value = value << 8 | at[i];
  return value;
}

struct Image {
  int descriptor = -1;
  VolumeGeometry geometry;
  std::vector<ClusterRun> tableRuns;
};

std::vector<std::uint8_t> readAt(const Image& image, std::uint64_t offset, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  check(pread(image.descriptor, bytes.data(), size, static_cast<off_t>(offset)) ==
            static_cast<ssize_t>(size),
        "read the image");
  return bytes;
}

// The byte offset of a position within an attribute, from its runs.
std::uint64_t offsetIn(const Image& image, const std::vector<ClusterRun>& runs,
                       std::uint64_t position) {
  std::uint64_t cluster = position / image.geometry.bytesPerCluster;
  for (const ClusterRun& run : runs) {
    if (cluster < run.clusterCount) {
      return (run.firstCluster + cluster) * image.geometry.bytesPerCluster +
             position % image.geometry.bytesPerCluster;
    }
    cluster -= run.clusterCount;
  }
  throw std::runtime_error("index walk: a position past its runs");
}

std::vector<std::uint8_t> readRecord(const Image& image, std::uint64_t number) {
  std::size_t size = image.geometry.bytesPerRecord;
  std::vector<std::uint8_t> record =
      readAt(image, offsetIn(image, image.tableRuns, number * size), size);
  check(applyFixups(record.data(), size), "fixups of a record");
  return record;
}

// The attribute of `type` named $I30 in the record: its offset, or 0.
std::size_t findIndexAttribute(const std::vector<std::uint8_t>& record, std::uint32_t type) {
  for (std::size_t at = little(&record[0x14], 2); at + 8 <= record.size();) {
    std::uint32_t found = static_cast<std::uint32_t>(little(&record[at], 4));
    if (found == 0xFFFFFFFF) return 0;
    if (found == type && record[at + 9] == 4) return at;
    std::size_t length = little(&record[at + 4], 4);
    check(length > 0, "an attribute of no length");
    at += length;
  }
  return 0;
}

struct Walk {
  const Image* image = nullptr;
  std::vector<ClusterRun> allocation;
  std::uint32_t blockSize = 0;
  std::uint32_t vcnSize = 0;
  std::vector<std::string> names;
  int depth = 0;
};

std::string utf8Of(const std::uint8_t* name, std::size_t units) {
  std::string utf8;
  for (std::size_t i = 0; i < units; ++i) {
    auto unit = static_cast<std::uint32_t>(little(name + 2 * i, 2));
    if (unit < 0x80) {
      utf8.push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
      utf8.push_back(static_cast<char>(0xC0 | unit >> 6));
      utf8.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
      utf8.push_back(static_cast<char>(0xE0 | unit >> 12));
      utf8.push_back(static_cast<char>(0x80 | (unit >> 6 & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
  }
  return utf8;
}

void walkBlock(Walk& walk, std::uint64_t vcn);

// Walks the entries of one node, from its index header: each entry's subnode before the entry.
void walkNode(Walk& walk, const std::uint8_t* header, std::size_t available) {
  std::size_t at = little(header, 4);
  std::size_t end = little(header + 4, 4);
  check(end <= available, "an index header past its node");
  while (at + 16 <= end) {
    const std::uint8_t* entry = header + at;
    std::size_t length = little(entry + 8, 2);
    std::uint8_t flags = entry[12];
    check(length >= 16 && at + length <= end, "an index entry out of its node");
    if (flags & kHasSubnode) walkBlock(walk, little(entry + length - 8, 8));
    if (flags & kLastEntry) return;
    const std::uint8_t* key = entry + 16;
    if (key[0x41] != 2) walk.names.push_back(utf8Of(key + 0x42, key[0x40]));
    at += length;
  }
  throw std::runtime_error("index walk: a node without its last entry");
}

void walkBlock(Walk& walk, std::uint64_t vcn) {
  check(++walk.depth < 32, "an index deeper than any");
  std::vector<std::uint8_t> block = readAt(
      *walk.image, offsetIn(*walk.image, walk.allocation, vcn * walk.vcnSize), walk.blockSize);
  check(std::memcmp(block.data(), "INDX", 4) == 0 && applyFixups(block.data(), block.size()),
        "an index block");
  walkNode(walk, block.data() + 0x18, block.size() - 0x18);
  --walk.depth;
}

}  // namespace

std::vector<std::string> namesInIndexOrder(const std::string& path, std::uint64_t folderRecord) {
  Image image;
  image.descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  check(image.descriptor >= 0, "open " + path);
  struct Closer {
    int descriptor;
    ~Closer() { close(descriptor); }
  } closer{image.descriptor};
  std::vector<std::uint8_t> boot = readAt(image, 0, 512);
  check(readBootSector(boot.data(), boot.size(), image.geometry), "the boot sector");
  std::vector<std::uint8_t> tableRecord =
      readAt(image, image.geometry.masterFileTableCluster * image.geometry.bytesPerCluster,
             image.geometry.bytesPerRecord);
  RecordFacts facts;
  check(readFileRecord(tableRecord.data(), tableRecord.size(), 0, facts) == RecordState::InUse &&
            decodeRunList(tableRecord.data() + facts.dataPart.runListAt, facts.dataPart.runListSize,
                          image.geometry.clusterCount, image.tableRuns),
        "the MFT's runs");
  std::vector<std::uint8_t> record = readRecord(image, folderRecord);
  std::size_t root = findIndexAttribute(record, kIndexRootType);
  check(root != 0, "no index root");
  const std::uint8_t* rootValue = &record[root + little(&record[root + 0x14], 2)];
  Walk walk;
  walk.image = &image;
  walk.blockSize = static_cast<std::uint32_t>(little(rootValue + 8, 4));
  // Index blocks are counted in clusters, or in 512-byte units where a block is smaller than one.
  walk.vcnSize =
      walk.blockSize >= image.geometry.bytesPerCluster ? image.geometry.bytesPerCluster : 512;
  std::size_t allocation = findIndexAttribute(record, kIndexAllocationType);
  if (allocation != 0) {
    std::size_t runsAt = allocation + little(&record[allocation + 0x20], 2);
    check(decodeRunList(&record[runsAt], allocation + little(&record[allocation + 4], 4) - runsAt,
                        image.geometry.clusterCount, walk.allocation),
          "the index allocation's runs");
  }
  walkNode(walk, rootValue + 0x10, record.size() - (rootValue + 0x10 - record.data()));
  return walk.names;
}
