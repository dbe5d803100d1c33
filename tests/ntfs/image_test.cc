// The master file table reading against the Linux scan: on NTFS volumes made by mkntfs and
// filled through ntfs-3g, treemeter-ntfs on the image and treemeter on the read-only mount report
// the same rows and error lines, paths aside, for every folder as the root and with several
// settings; and in the order of a scan that lists every folder in its directory index's order, as
// Windows does, read from the image's index itself.
//
// The volumes are made once for the whole binary (about 20 seconds, most of it the folder of
// 100,000 entries), so ctest runs the binary as one test.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ntfs/collation.h"
#include "ntfs/file_table.h"
#include "platform/volume.h"
#include "support/ntfs_index.h"
#include "support/ntfs_report.h"
#include "support/ntfs_volume.h"
#include "support/program.h"
#include "support/tree.h"

namespace {

constexpr std::int64_t kOld = 1262304000;  // 2010-01-01
const std::int64_t kRecent = time(nullptr) - 86400;

// The settings every folder is scanned with: both reparse rules, a threshold with a depth, and a
// day filter.
const std::vector<std::vector<std::string>> kSettings = {{"yes", "0", "0", "0"},
                                                         {"no", "0", "0", "0"},
                                                         {"yes", "8KB", "0", "2"},
                                                         {"no", "1KB", "30", "3"}};

void check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("cannot make " + what);
}

// A name of the volume as the mount gives it: UTF-8.
std::string utf8Of(std::u16string_view name) {
  std::string utf8;
  for (char16_t unit : name) {
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

// The folders below `folder` (relative to the mount, "" for its root), links not followed.
void collectFolders(const std::string& mount, const std::string& folder,
                    std::vector<std::string>& folders) {
  folders.push_back(folder);
  DIR* listing = opendir((mount + "/" + folder).c_str());
  ASSERT_NE(listing, nullptr) << folder;
  std::vector<std::string> subfolders;
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    struct stat status;
    std::string path = folder.empty() ? name : folder + "/" + name;
    if (name != "." && name != ".." && lstat((mount + "/" + path).c_str(), &status) == 0 &&
        S_ISDIR(status.st_mode)) {
      subfolders.push_back(path);
    }
  }
  closedir(listing);
  for (const std::string& subfolder : subfolders) collectFolders(mount, subfolder, folders);
}

// The volumes, made once for all tests; a volume that could not be made holds the reason.
struct TestVolume {
  NtfsVolume volume;
  std::string failure;
};

std::unique_ptr<TestVolume> assorted, wide, smallClusters;

// Names whose index order differs from their byte order, names that differ only in case (written
// in the POSIX namespace), and names beyond the one-byte characters.
const std::vector<std::string> kOrderedNames = {
    "_",    "a",  "B", "\xc3\xa9", "\xc3\x84", "case",         "Case",
    "CASE", "10", "9", "Zeta",     "zeta2",    "\xc3\x84rger", "\xce\xa9 omega"};

void fillAssorted(const std::string& mount) {
  std::string data = mount + "/data";
  makeFolder(data);
  // Each folder of its own size, so that a folder found under another's name shows.
  for (std::size_t i = 0; i < kOrderedNames.size(); ++i) {
    const std::string& name = kOrderedNames[i];
    makeFolder(data + "/" + name);
    makeFile(data + "/" + name + "/f", static_cast<std::int64_t>(i + 1) * 1000, kRecent);
    makeFile(data + "/f" + name, static_cast<std::int64_t>(i + 1), kOld);
  }
  // Hard links, in one folder and across folders: each link is an entry and counts the file.
  makeFolder(data + "/links");
  makeFile(data + "/links/one", 5000, kOld);
  link((data + "/links/one").c_str(), (data + "/links/one again").c_str());
  link((data + "/links/one").c_str(), (data + "/a/one elsewhere").c_str());
  // So many long names that they move to extension records, listed in an $ATTRIBUTE_LIST.
  makeFile(data + "/links/many", 70000, kRecent);
  for (int i = 0; i < 40; ++i) {
    std::string name = data + "/links/many-" + std::string(100, static_cast<char>('a' + i % 26)) +
                       std::to_string(i);
    link((data + "/links/many").c_str(), name.c_str());
  }
  // Long names with DOS names beside them: one entry each.
  makeFolder(data + "/Program Files");
  setDosName(data + "/Program Files", "PROGRA~1");
  makeFile(data + "/Program Files/A long file name.txt", 3000, kRecent);
  setDosName(data + "/Program Files/A long file name.txt", "ALONGF~1.TXT");
  // A sparse file, compressed files, a file written alone (one run), and one written with a hole
  // after every cluster: so many runs that they fill extension records, and its attribute list
  // lies outside its record.
  makeFolder(data + "/sizes");
  writeBytes(data + "/sizes/sparse", 0, 4096, 's');
  writeBytes(data + "/sizes/sparse", 64 << 20, 4096, 's');
  makeFolder(data + "/sizes/packed");
  setCompressedFolder(data + "/sizes/packed");
  writeBytes(data + "/sizes/packed/zeros", 0, 1 << 20, '\0');
  writeBytes(data + "/sizes/packed/text", 0, 300000, 't');
  writeBytes(data + "/sizes/alone", 0, 3 << 20, 'a');
  // A named stream is not the file's size, for Windows as for the Linux mount.
  writeBytes(data + "/sizes/streamed", 0, 1000, 'u');
  addNamedStream(data + "/sizes/streamed", "extra", 9000);
  for (int i = 0; i < 5000; ++i) writeBytes(data + "/sizes/holes", i * 8192, 4096, 'h');
  for (const char* name : {"sparse", "packed/zeros", "packed/text", "alone", "streamed", "holes"}) {
    setModified(data + "/sizes/" + name, kRecent);
  }
  // Junctions and symbolic links within the volume, absolute and relative, and a junction back up
  // to a folder above it, which "yes" finds to be a loop.
  makeFolder(data + "/target");
  makeFolder(data + "/target/deep");
  makeFile(data + "/target/deep/f", 12345, kRecent);
  makeJunction(data + "/junction", "X:\\data\\target");
  makeFolderLink(data + "/absolute link", "X:\\data\\target\\deep", false);
  makeFolderLink(data + "/relative link", "..\\data\\target", true);
  makeFolderLink(data + "/target/up", "..\\links", true);
  makeJunction(data + "/target/deep/back", "X:\\data");
  // Nested folders, and empty ones.
  std::string nested = data;
  for (int depth = 1; depth <= 8; ++depth) {
    nested += "/level " + std::to_string(depth);
    makeFolder(nested);
    makeFile(nested + "/f", depth * 2000, depth % 2 ? kOld : kRecent);
  }
  makeFolder(data + "/empty");
  makeFile(mount + "/top file", 100, kOld);
}

// A folder of 100,000 entries: a deep index B+ tree. Subfolders spread across the index give rows
// whose order is that of the tree.
void fillWide(const std::string& mount) {
  std::string folder = mount + "/wide";
  makeFolder(folder);
  const std::string letters[] = {"a", "B", "_", "\xc3\xa9", "\xc3\x84", "z", "Z", "0", "~"};
  for (int i = 0; i < 100000; ++i) {
    std::string name = letters[i % 9] + letters[(i / 9) % 9] + std::to_string(i * 7919 % 100003);
    std::string path = folder + "/" + name;
    if (i % 50 == 0) {
      makeFolder(path);
    } else {
      check(mknod(path.c_str(), S_IFREG | 0644, 0) == 0, path);
    }
  }
}

// 512-byte clusters, so that a 1 KiB record spans two clusters, and enough files in folders
// made by turns that the MFT grows in several runs.
void fillSmallClusters(const std::string& mount) {
  for (int folder = 0; folder < 20; ++folder) {
    std::string path = mount + "/folder " + std::to_string(folder);
    makeFolder(path);
  }
  for (int file = 0; file < 2000; ++file) {
    std::string path =
        mount + "/folder " + std::to_string(file % 20) + "/file " + std::to_string(file);
    writeBytes(path, 0, 700 + file % 3000, 'x');
    setModified(path, file % 2 ? kOld : kRecent);
  }
}

std::unique_ptr<TestVolume> makeTestVolume(int megabytes, const std::vector<std::string>& options,
                                           void (*fill)(const std::string&)) {
  auto made = std::make_unique<TestVolume>();
  try {
    made->volume = makeNtfsVolume(megabytes, options);
    fill(made->volume.mount);
    mountReadOnly(made->volume);
  } catch (const std::exception& failure) {
    made->failure = failure.what();
  }
  return made;
}

class NtfsImageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!ntfsVolumesUnavailable().empty()) return;
    assorted = makeTestVolume(256, {}, fillAssorted);
    wide = makeTestVolume(512, {"-s", "4096", "-c", "65536"}, fillWide);
    smallClusters = makeTestVolume(64, {"-c", "512"}, fillSmallClusters);
  }
  static void TearDownTestSuite() {
    for (auto* volume : {&assorted, &wide, &smallClusters}) {
      if (*volume) removeNtfsVolume((*volume)->volume);
      volume->reset();
    }
  }
  void SetUp() override {
    std::string unavailable = ntfsVolumesUnavailable();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  }

  // Scans `folder` (relative to the mount) both ways with `settings` and compares the reports.
  static void expectSameReport(const NtfsVolume& volume, const std::string& folder,
                               const std::vector<std::string>& settings) {
    std::vector<std::string> linuxArguments = settings;
    linuxArguments.push_back(volume.mount + "/" + folder);
    std::vector<std::string> imageArguments = settings;
    std::string inside = folder;
    std::replace(inside.begin(), inside.end(), '/', '\\');
    imageArguments.push_back("\\" + inside);
    ProgramOptions imageOptions;
    imageOptions.command = {TREEMETER_NTFS_PROGRAM, volume.image};
    ProgramResult linuxRun = runProgram(linuxArguments);
    ProgramResult imageRun = runProgram(imageArguments, imageOptions);
    ASSERT_EQ(imageRun.exitStatus, 0) << imageRun.err;
    std::vector<std::string> expected = linesAfterHeader(linuxRun.out);
    putInIndexOrder(expected, volume.image);
    mapToDriveX(expected, volume.mount);
    if (folder.empty()) adjustForVolumeRoot(expected);
    EXPECT_EQ(linesAfterHeader(imageRun.out), expected) << linuxRun.out << imageRun.out;
  }

  // A Windows volume root lists no "." and "..", which the Linux mount's root does: its row counts
  // two entries fewer.
  static void adjustForVolumeRoot(std::vector<std::string>& lines) {
    if (lines.empty()) return;
    std::string& row = lines.back();
    std::size_t countStart = row.find('\t', row.find('\t', row.find('\t') + 1) + 1) + 1;
    std::size_t countEnd = row.find('\t', countStart);
    std::uint64_t count = std::stoull(row.substr(countStart, countEnd - countStart));
    row.replace(countStart, countEnd - countStart, std::to_string(count - 2));
  }

  static void expectEveryFolderAlike(const std::unique_ptr<TestVolume>& made) {
    ASSERT_TRUE(made && made->failure.empty()) << (made ? made->failure : "no volume");
    std::vector<std::string> folders;
    collectFolders(made->volume.mount, "", folders);
    for (const std::string& folder : folders) {
      for (const auto& settings : kSettings) {
        SCOPED_TRACE("folder \\" + folder + ", settings " + settings[0] + " " + settings[1] + " " +
                     settings[2] + " " + settings[3]);
        expectSameReport(made->volume, folder, settings);
      }
    }
  }
};

TEST_F(NtfsImageTest, AssortedVolumeGivesTheLinuxScansRowsForEveryFolder) {
  expectEveryFolderAlike(assorted);
}

TEST_F(NtfsImageTest, SmallClusterVolumeGivesTheLinuxScansRowsForEveryFolder) {
  expectEveryFolderAlike(smallClusters);
}

TEST_F(NtfsImageTest, FolderOf100000EntriesGivesTheLinuxScansRows) {
  ASSERT_TRUE(wide && wide->failure.empty()) << (wide ? wide->failure : "no volume");
  // Two runs only: the Linux scan of 100,000 entries through ntfs-3g takes seconds.
  for (const auto& settings : {kSettings.front(), kSettings.back()}) {
    expectSameReport(wide->volume, "wide", settings);
  }
}

// Every entry's place, not only the subfolders' that rows show: the table's order of the 100,000
// names is that of an in-order walk of the folder's index.
TEST_F(NtfsImageTest, FolderOf100000EntriesIsInIndexOrder) {
  ASSERT_TRUE(wide && wide->failure.empty()) << (wide ? wide->failure : "no volume");
  struct stat folder;
  ASSERT_EQ(stat((wide->volume.mount + "/wide").c_str(), &folder), 0);
  std::vector<std::string> indexOrder = namesInIndexOrder(wide->volume.image, folder.st_ino);
  ASSERT_EQ(indexOrder.size(), 100000u);
  std::uint32_t error = 0;
  std::u16string image(wide->volume.image.begin(), wide->volume.image.end());
  VolumeFilePtr volume = openVolumeFile(image, error);
  ASSERT_TRUE(volume) << error;
  FileTable table;
  std::string doubt;
  ASSERT_TRUE(loadFileTable(*volume, table, doubt)) << doubt;
  std::vector<std::string> tableOrder;
  // The folder is the root's only subfolder.
  for (std::uint32_t link = table.firstLink[kRootFolderRecord];
       link < table.firstLink[kRootFolderRecord + 1]; ++link) {
    std::uint32_t folder = table.links[link].file;
    for (std::uint32_t entry = table.firstLink[folder]; entry < table.firstLink[folder + 1];
         ++entry) {
      tableOrder.push_back(utf8Of(linkName(table, table.links[entry])));
    }
  }
  EXPECT_EQ(tableOrder, indexOrder);
}

}  // namespace
