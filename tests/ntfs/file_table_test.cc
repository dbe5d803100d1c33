// The file table reading on images changed on purpose: damaged or hostile records and run lists
// are doubts that leave the folders to the system's listing, never a crash, a hang or an invented
// entry; and an MFT whose records lie across runs of odd length reads as the same table.
//
// One small volume is made with mkntfs and ntfs-3g (as root, with /dev/fuse; skipped elsewhere)
// for the whole binary, and each test changes a copy of its image.
#include "ntfs/file_table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ntfs/records.h"
#include "ntfs/table_listing.h"
#include "platform/volume.h"
#include "support/ntfs_volume.h"
#include "support/program.h"
#include "support/tree.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint64_t little(const std::uint8_t* at, int size) {
  std::uint64_t value = 0;
  for (int i = size; i-- > 0;) value = value << 8 | at[i];
  return value;
}

void putLittle(std::uint8_t* at, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The volume every test starts from, and the names it holds: folders one\two\three, a file with
// so many links that they fill extension records, and files beside them.
struct BaseImage {
  std::string folder;
  std::string path;
  Bytes bytes;
  std::string failure;
};

std::unique_ptr<BaseImage> base;

void fillBase(const std::string& mount) {
  makeFolder(mount + "/one");
  makeFolder(mount + "/one/two");
  makeFolder(mount + "/one/two/three");
  writeBytes(mount + "/one/two/three/f", 0, 5000, 'f');
  writeBytes(mount + "/one/linked", 0, 100, 'l');
  for (int i = 0; i < 30; ++i) {
    std::string name = mount + "/one/linked-" + std::string(100, 'n') + std::to_string(i);
    if (link((mount + "/one/linked").c_str(), name.c_str()) != 0) throw std::runtime_error(name);
  }
  for (int i = 0; i < 50; ++i) writeBytes(mount + "/file " + std::to_string(i), 0, 3000 + i, 'x');
  // Links within the volume, one off it, and two that lead to each other.
  makeJunction(mount + "/one/two/up", "X:\\one");
  makeFolderLink(mount + "/one/down", "two\\three", true);
  makeJunction(mount + "/one/away", "C:\\Windows");
  makeFolderLink(mount + "/one/ring a", "ring b", true);
  makeFolderLink(mount + "/one/ring b", "ring a", true);
  // Reparse points of filter drivers: a file the system compressed, a cloud placeholder folder.
  makeFolder(mount + "/one/filtered");
  writeBytes(mount + "/one/filtered/compressed", 0, 100, 'c');
  setReparseTag(mount + "/one/filtered/compressed", 0x80000017);
  makeFolder(mount + "/one/filtered/placeholder");
  setReparseTag(mount + "/one/filtered/placeholder", 0x9000001A);
}

Bytes readWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::unique_ptr<BaseImage> makeBaseImage() {
  auto made = std::make_unique<BaseImage>();
  try {
    // 512-byte clusters: a 1 KiB record spans two.
    NtfsVolume volume = makeNtfsVolume(16, {"-c", "512"});
    made->folder = volume.folder;
    fillBase(volume.mount);
    mountReadOnly(volume);
    made->path = volume.image;
    made->bytes = readWhole(volume.image);
    // The image stays for the tests; the mount is not needed.
    volume.folder.clear();
    std::string umount = "umount '" + volume.mount + "'";
    if (std::system(umount.c_str()) != 0) throw std::runtime_error("cannot unmount");
  } catch (const std::exception& failure) {
    made->failure = failure.what();
  }
  return made;
}

// Reads the table of an image held in memory, written to a file for the purpose.
bool loadTable(const Bytes& image, FileTable& table, std::string& doubt) {
  std::string path = base->folder + "/changed.img";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  std::uint32_t error = 0;
  VolumeFilePtr volume = openVolumeFile(std::u16string(path.begin(), path.end()), error);
  if (!volume) throw std::runtime_error("cannot open " + path);
  return loadFileTable(*volume, table, doubt);
}

// The bytes of an image, and where its parts lie.
struct Image {
  Bytes bytes;
  VolumeGeometry geometry;
  std::vector<ClusterRun> tableRuns;
};

Image baseImage() {
  Image image{base->bytes, {}, {}};
  if (!readBootSector(image.bytes.data(), image.bytes.size(), image.geometry)) {
    throw std::runtime_error("the base image has no boot sector");
  }
  Bytes record(
      image.bytes.begin() + static_cast<std::ptrdiff_t>(image.geometry.masterFileTableCluster *
                                                        image.geometry.bytesPerCluster),
      image.bytes.begin() + static_cast<std::ptrdiff_t>(image.geometry.masterFileTableCluster *
                                                            image.geometry.bytesPerCluster +
                                                        image.geometry.bytesPerRecord));
  RecordFacts facts;
  if (readFileRecord(record.data(), record.size(), 0, facts) != RecordState::InUse ||
      !decodeRunList(record.data() + facts.dataPart.runListAt, facts.dataPart.runListSize,
                     image.geometry.clusterCount, image.tableRuns)) {
    throw std::runtime_error("the base image's MFT cannot be found");
  }
  return image;
}

// Where byte `position` of the MFT lies in the image.
std::size_t tableOffset(const Image& image, std::uint64_t position) {
  std::uint64_t cluster = position / image.geometry.bytesPerCluster;
  for (const ClusterRun& run : image.tableRuns) {
    if (cluster < run.clusterCount) {
      return static_cast<std::size_t>((run.firstCluster + cluster) *
                                          image.geometry.bytesPerCluster +
                                      position % image.geometry.bytesPerCluster);
    }
    cluster -= run.clusterCount;
  }
  throw std::runtime_error("past the MFT");
}

// The inverse of applyFixups: each stride's last two bytes go to the array, the number in their
// place.
void writeFixups(std::uint8_t* record, std::size_t size) {
  std::size_t usaOffset = little(record + 4, 2);
  std::uint8_t* number = record + usaOffset;
  for (std::size_t stride = 1; stride <= size / kFixupStride; ++stride) {
    std::uint8_t* end = record + stride * kFixupStride - 2;
    std::memcpy(number + 2 * stride, end, 2);
    std::memcpy(end, number, 2);
  }
}

// Record `number` of the image with its fixups applied. A record may lie across runs, so it is
// gathered piece by piece.
Bytes recordBytes(const Image& image, std::uint64_t number) {
  std::size_t size = image.geometry.bytesPerRecord;
  std::uint32_t cluster = image.geometry.bytesPerCluster;
  Bytes record(size);
  for (std::size_t at = 0; at < size; at += cluster) {
    std::memcpy(record.data() + at, &image.bytes[tableOffset(image, number * size + at)],
                std::min<std::size_t>(cluster, size - at));
  }
  if (!applyFixups(record.data(), size)) throw std::runtime_error("record with bad fixups");
  return record;
}

// Changes record `number` of the image: `change` sees it with its fixups applied, and they are
// written again afterwards, so that only what `change` did is damaged.
void changeRecord(Image& image, std::uint64_t number,
                  const std::function<void(std::uint8_t* record)>& change) {
  std::size_t size = image.geometry.bytesPerRecord;
  std::uint32_t cluster = image.geometry.bytesPerCluster;
  Bytes record = recordBytes(image, number);
  change(record.data());
  writeFixups(record.data(), size);
  for (std::size_t at = 0; at < size; at += cluster) {
    std::memcpy(&image.bytes[tableOffset(image, number * size + at)], record.data() + at,
                std::min<std::size_t>(cluster, size - at));
  }
}

// Puts a copy of record `from`, as it lies on the disk, in the place of record `to`.
void copyRecord(Image& image, std::uint64_t from, std::uint64_t to) {
  std::size_t size = image.geometry.bytesPerRecord;
  std::uint32_t cluster = image.geometry.bytesPerCluster;
  for (std::size_t at = 0; at < size; at += cluster) {
    std::memmove(&image.bytes[tableOffset(image, to * size + at)],
                 &image.bytes[tableOffset(image, from * size + at)],
                 std::min<std::size_t>(cluster, size - at));
  }
}

// The first extension record of the file in record `base`.
std::uint64_t firstExtensionOf(const Image& image, std::uint64_t base) {
  for (std::uint64_t number = kFirstOrdinaryRecord;; ++number) {
    if (little(recordBytes(image, number).data() + 0x20, 6) == base) return number;
  }
}

// The offset of the record's first attribute of `type`, or 0.
std::size_t findAttribute(const std::uint8_t* record, std::uint32_t type) {
  for (std::size_t at = little(record + 0x14, 2);; at += little(record + at + 4, 4)) {
    std::uint64_t found = little(record + at, 4);
    if (found == 0xFFFFFFFF) return 0;
    if (found == type) return at;
  }
}

std::uint8_t* valueOf(std::uint8_t* record, std::size_t attribute) {
  return record + attribute + little(record + attribute + 0x14, 2);
}

// Makes room for `extra` bytes at `at`, moving what follows up to the end of the record's used
// bytes, which grow.
void openGap(std::uint8_t* record, std::size_t at, std::size_t extra) {
  std::size_t used = little(record + 0x18, 4);
  std::memmove(record + at + extra, record + at, used - at);
  putLittle(record + 0x18, used + extra, 4);
}

// The MFT's run list in record 0, given room for `size` bytes.
std::uint8_t* tableRunsWithRoom(std::uint8_t* record, std::size_t size) {
  std::size_t data = findAttribute(record, kDataType);
  std::size_t length = little(record + data + 4, 4);
  std::size_t runsAt = data + little(record + data + 0x20, 2);
  if (runsAt + size > data + length) {
    std::size_t extra = (runsAt + size - data - length + 7) / 8 * 8;
    openGap(record, data + length, extra);
    putLittle(record + data + 4, length + extra, 4);
  }
  return record + runsAt;
}

// Writes one run of `length` clusters at `cluster` (relative to the run before) as an 8-byte field
// pair; the bytes written.
std::size_t putRun(std::uint8_t* at, std::uint64_t length, std::int64_t cluster) {
  at[0] = 0x44;
  putLittle(at + 1, length, 4);
  putLittle(at + 5, static_cast<std::uint64_t>(cluster), 4);
  return 9;
}

// The record number of the folder or file at `path` (below the root, backslashes) in the intact
// table.
std::uint32_t recordOf(const FileTable& table, const std::u16string& path) {
  std::size_t cut = path.rfind(u'\\');
  std::uint32_t folder = 0;
  if (findTableFolder(table, u'X', cut == std::u16string::npos ? u"" : path.substr(0, cut), false,
                      folder) != TableLookup::Found) {
    throw std::runtime_error("no such folder in the base image");
  }
  std::u16string name = cut == std::u16string::npos ? path : path.substr(cut + 1);
  for (std::uint32_t link = table.firstLink[folder]; link < table.firstLink[folder + 1]; ++link) {
    if (linkName(table, table.links[link]) == name) return table.links[link].file;
  }
  throw std::runtime_error("no such name in the base image");
}

// Every folder's entries, as the table lists them: folder, file and name.
std::vector<std::pair<std::pair<std::uint32_t, std::uint32_t>, std::u16string>> allEntries(
    const FileTable& table) {
  std::vector<std::pair<std::pair<std::uint32_t, std::uint32_t>, std::u16string>> entries;
  for (const TableLink& link : table.links) {
    entries.push_back({{link.folder, link.file}, std::u16string(linkName(table, link))});
  }
  return entries;
}

class FileTableTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (ntfsVolumesUnavailable().empty()) base = makeBaseImage();
  }
  static void TearDownTestSuite() {
    if (base && !base->folder.empty()) removeTree(base->folder);
    base.reset();
  }
  void SetUp() override {
    std::string unavailable = ntfsVolumesUnavailable();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    ASSERT_TRUE(base && base->failure.empty()) << (base ? base->failure : "no base image");
    std::string doubt;
    ASSERT_TRUE(loadTable(base->bytes, intact, doubt)) << doubt;
  }

  FileTable intact;
};

TEST_F(FileTableTest, DamagedOrHostileImagesAreDoubted) {
  std::uint32_t one = recordOf(intact, u"one");
  std::uint32_t three = recordOf(intact, u"one\\two\\three");
  std::uint32_t linked = recordOf(intact, u"one\\linked");
  std::uint16_t oneSequence = intact.files[one].sequence;
  struct Damage {
    const char* what;
    const char* doubt;
    std::function<void(Image&)> apply;
  };
  const std::vector<Damage> damages = {
      {"no boot sector", "no NTFS boot sector", [](Image& image) { image.bytes[3] = 'X'; }},
      {"cut after the boot sector", "cannot be read",
       [](Image& image) { image.bytes.resize(4096); }},
      {"cut inside the MFT", "could not be read to its end",
       [&](Image& image) { image.bytes.resize(tableOffset(image, (three + 1) * 1024 + 100)); }},
      {"a torn record: a stride's end without the sequence number", "damaged",
       [&](Image& image) { image.bytes[tableOffset(image, three * 1024 + 1022)] ^= 0xFF; }},
      {"a record in another's place, as runs that were mixed up would put it", "damaged",
       [&](Image& image) { copyRecord(image, three, three + 1); }},
      {"an attribute longer than its record", "damaged",
       [&](Image& image) {
         changeRecord(image, three, [](std::uint8_t* record) {
           putLittle(record + findAttribute(record, kFileNameType) + 4, 0x7FF8, 4);
         });
       }},
      {"an attribute of no length, which would be read for ever", "damaged",
       [&](Image& image) {
         changeRecord(image, three, [](std::uint8_t* record) {
           putLittle(record + findAttribute(record, kFileNameType) + 4, 0, 4);
         });
       }},
      {"a name longer than its attribute", "damaged",
       [&](Image& image) {
         changeRecord(image, three, [](std::uint8_t* record) {
           valueOf(record, findAttribute(record, kFileNameType))[0x40] = 0xFF;
         });
       }},
      {"the MFT's run leaves the volume", "the MFT's own record cannot be read",
       [](Image& image) {
         std::uint64_t clusters = image.tableRuns.front().clusterCount;
         std::int64_t beyond = static_cast<std::int64_t>(image.geometry.clusterCount);
         changeRecord(image, 0, [&](std::uint8_t* record) {
           std::uint8_t* runs = tableRunsWithRoom(record, 10);
           runs[putRun(runs, clusters, beyond)] = 0;
         });
       }},
      {"the MFT's runs loop: the second run reads the first one's clusters again", "overlap",
       [](Image& image) {
         const ClusterRun whole = image.tableRuns.front();
         changeRecord(image, 0, [&](std::uint8_t* record) {
           std::uint8_t* runs = tableRunsWithRoom(record, 19);
           std::size_t at =
               putRun(runs, whole.clusterCount / 2, static_cast<std::int64_t>(whole.firstCluster));
           at += putRun(runs + at, whole.clusterCount - whole.clusterCount / 2, 0);
           runs[at] = 0;
         });
       }},
      {"an extension record that its base does not list", "disagree",
       [&](Image& image) {
         // An extension record of `linked` now names `one`, whose record has no attribute list.
         changeRecord(image, firstExtensionOf(image, linked), [&](std::uint8_t* record) {
           putLittle(record + 0x20, one | std::uint64_t{oneSequence} << 48, 8);
         });
       }},
      {"a name in a folder whose record was reused since", "not in use",
       [&](Image& image) {
         changeRecord(image, three, [](std::uint8_t* record) {
           std::uint8_t* value = valueOf(record, findAttribute(record, kFileNameType));
           putLittle(value + 6, little(value + 6, 2) + 1, 2);
         });
       }},
      {"a folder within itself: one's parent made three, below it", "within itself",
       [&](Image& image) {
         changeRecord(image, one, [&](std::uint8_t* record) {
           std::uint8_t* value = valueOf(record, findAttribute(record, kFileNameType));
           putLittle(value, three | std::uint64_t{intact.files[three].sequence} << 48, 8);
         });
       }},
      {"a folder with a second long name, in the root", "two names",
       [&](Image& image) {
         changeRecord(image, three, [&](std::uint8_t* record) {
           std::size_t name = findAttribute(record, kFileNameType);
           std::size_t length = little(record + name + 4, 4);
           openGap(record, name + length, length);
           std::memcpy(record + name + length, record + name, length);
           putLittle(valueOf(record, name + length), kRootFolderRecord | std::uint64_t{5} << 48, 8);
         });
       }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    Image image = baseImage();
    damage.apply(image);
    FileTable table;
    std::string doubt;
    EXPECT_FALSE(loadTable(image.bytes, table, doubt));
    EXPECT_NE(doubt.find(damage.doubt), std::string::npos) << doubt;
  }
}

TEST_F(FileTableTest, RecordsAcrossRunsOfOddLengthReadAsTheSameTable) {
  // The MFT moved to two runs, the first of three clusters (a record and a half) and the rest to
  // free clusters at the end of the volume, copied cluster by cluster.
  Image image = baseImage();
  ASSERT_EQ(image.tableRuns.size(), 1u);
  const ClusterRun whole = image.tableRuns.front();
  std::uint32_t cluster = image.geometry.bytesPerCluster;
  std::uint64_t moved = whole.clusterCount - 3;
  std::uint64_t destination = image.geometry.clusterCount - moved - 64;
  ASSERT_GT(destination, whole.firstCluster + whole.clusterCount);
  for (std::uint64_t i = 0; i < moved; ++i) {
    std::memcpy(&image.bytes[(destination + i) * cluster],
                &image.bytes[(whole.firstCluster + 3 + i) * cluster], cluster);
  }
  changeRecord(image, 0, [&](std::uint8_t* record) {
    std::uint8_t* runs = tableRunsWithRoom(record, 19);
    std::size_t at = putRun(runs, 3, static_cast<std::int64_t>(whole.firstCluster));
    at += putRun(runs + at, moved, static_cast<std::int64_t>(destination - whole.firstCluster));
    runs[at] = 0;
  });
  image.tableRuns = {{whole.firstCluster, 3, false}, {destination, moved, false}};
  // The old clusters hold nothing any more, so that only the new runs can give the records.
  std::memset(&image.bytes[(whole.firstCluster + 3) * cluster], 0, moved * cluster);
  FileTable table;
  std::string doubt;
  ASSERT_TRUE(loadTable(image.bytes, table, doubt)) << doubt;
  EXPECT_EQ(allEntries(table), allEntries(intact));
}

// How a path is followed through the table: names ignoring case, links within the volume followed,
// and what the table cannot answer left to the system's listing (Elsewhere, Missing,
// FoundForTheSystem) or refused.
TEST_F(FileTableTest, PathsLeadThroughLinksWithinTheVolumeOnly) {
  std::uint32_t three = recordOf(intact, u"one\\two\\three");
  std::uint32_t folder = 0;
  auto find = [&](const std::u16string& path, bool noFollow = false, char16_t letter = u'X') {
    folder = 0;
    return findTableFolder(intact, letter, path, noFollow, folder);
  };
  EXPECT_EQ(find(u"one\\two\\up\\two\\three"), TableLookup::Found);
  EXPECT_EQ(folder, three);
  EXPECT_EQ(find(u"ONE\\Down"), TableLookup::Found);
  EXPECT_EQ(folder, three);
  EXPECT_EQ(find(u"one\\two\\up", false, u'Y'), TableLookup::Elsewhere);
  EXPECT_EQ(find(u"one\\away"), TableLookup::Elsewhere);
  EXPECT_EQ(find(u"one\\two\\up", true), TableLookup::LinkInPlace);
  EXPECT_EQ(find(u"one\\two\\up\\two", true), TableLookup::Found);
  EXPECT_EQ(find(u"one\\ring a"), TableLookup::TooManyLinks);
  EXPECT_EQ(find(u"one\\linked"), TableLookup::NotAFolder);
  EXPECT_EQ(find(u"one\\linked\\two"), TableLookup::Missing);
  EXPECT_EQ(find(u"one\\nothing"), TableLookup::Missing);
  EXPECT_EQ(find(u"one\\\\two"), TableLookup::Missing);
  EXPECT_EQ(find(u"one\\"), TableLookup::Found);
  // What a filter driver's reparse points are in a listing, only the system's listing can say.
  EXPECT_EQ(find(u"one\\filtered"), TableLookup::FoundForTheSystem);
  EXPECT_EQ(find(u"one\\filtered\\placeholder"), TableLookup::FoundForTheSystem);
}

TEST_F(FileTableTest, TreemeterNtfsSaysWhyItCannotReadATable) {
  Image image = baseImage();
  image.bytes.resize(4096);
  std::string path = base->folder + "/cut.img";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.bytes.data()),
             static_cast<std::streamsize>(image.bytes.size()));
  ProgramOptions options;
  options.command = {TREEMETER_NTFS_PROGRAM, path};
  options.timeoutSeconds = 60;
  ProgramResult result = runProgram({"no", "0", "0", "0", "\\"}, options);
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("the master file table of " + path + " is not read: "),
            std::string::npos)
      << result.err;
}

}  // namespace
