#include "ntfs/file_table.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "ntfs/collation.h"

namespace {

constexpr std::uint64_t kUpcaseBytes = 2 * kUpcaseEntries;
// NTFS keeps an attribute list within 256 KiB.
constexpr std::uint64_t kLargestAttributeList = 256u << 10;
// The attribute bits a listing takes from the record itself rather than from the file's
// $STANDARD_INFORMATION.
constexpr std::uint32_t kFolderAttribute = 0x10;
constexpr std::uint32_t kReparsePointAttribute = 0x400;

FileReference referenceOf(std::uint64_t record, std::uint16_t sequence) {
  return record | static_cast<FileReference>(sequence) << 48;
}

bool fail(std::string& doubt, const std::string& reason) {
  doubt = reason;
  return false;
}

std::string recordText(std::uint64_t record) {
  return "record " + std::to_string(record);
}

// An extension record, and the base record it says it belongs to.
struct ExtensionClaim {
  std::uint32_t base = 0;
  FileReference extension = 0;
  bool operator<(const ExtensionClaim& other) const {
    return base != other.base ? base < other.base : extension < other.extension;
  }
  bool operator==(const ExtensionClaim& other) const {
    return base == other.base && extension == other.extension;
  }
};

// An attribute list whose bytes lie outside its record, to be read after the pass.
struct OutlyingList {
  std::uint32_t base = 0;
  std::uint64_t size = 0;
  std::vector<ClusterRun> runs;
};

// What the pass over the records gathers besides the table, and its scratch space.
struct TablePass {
  TablePass(VolumeFile& volume, FileTable& table, std::string& doubt)
      : volume(volume), table(table), doubt(doubt) {}
  VolumeFile& volume;
  FileTable& table;
  std::string& doubt;
  std::uint64_t recordCount = 0;
  std::vector<ExtensionClaim> claims;  // by the extension records
  std::vector<ExtensionClaim> listed;  // by the base records' attribute lists
  // The base records the extension records name, with the sequence number each names.
  std::vector<std::pair<std::uint32_t, std::uint16_t>> namedBases;
  std::vector<OutlyingList> outlyingLists;
  bool upcaseFound = false;
  std::vector<ClusterRun> upcaseRuns;
  RecordFacts facts;
  std::vector<AttributeListEntry> entries;
  std::vector<std::uint8_t> carried;
};

std::uint64_t clustersOf(const std::vector<ClusterRun>& runs) {
  std::uint64_t clusters = 0;
  for (const ClusterRun& run : runs) {
    if (run.clusterCount > std::numeric_limits<std::uint64_t>::max() - clusters) {
      return std::numeric_limits<std::uint64_t>::max();
    }
    clusters += run.clusterCount;
  }
  return clusters;
}

// Reads the first `size` bytes of a non-resident attribute from its runs.
bool readRuns(VolumeFile& volume, const VolumeGeometry& geometry,
              const std::vector<ClusterRun>& runs, std::uint64_t size,
              std::vector<std::uint8_t>& bytes) {
  bytes.resize(static_cast<std::size_t>(size));
  std::uint64_t done = 0;
  for (const ClusterRun& run : runs) {
    if (done == size) break;
    if (run.sparse) return false;
    std::uint64_t part = std::min(run.clusterCount * geometry.bytesPerCluster, size - done);
    if (!readVolumeBytes(volume, run.firstCluster * geometry.bytesPerCluster,
                         static_cast<std::size_t>(part), bytes.data() + done)) {
      return false;
    }
    done += part;
  }
  return done == size;
}

bool decodePart(const std::uint8_t* record, const NonResidentPart& part,
                const VolumeGeometry& geometry, std::vector<ClusterRun>& runs) {
  return decodeRunList(record + part.runListAt, part.runListSize, geometry.clusterCount, runs) &&
         clustersOf(runs) == part.highestVcn - part.lowestVcn + 1;
}

// The MFT's own extents, from its record 0, cut to the records it holds; false with a doubt when
// they are not all there, overlap, or leave the volume.
bool findTableExtents(VolumeFile& volume, const VolumeGeometry& geometry,
                      std::vector<VolumeRange>& ranges, std::uint64_t& recordCount,
                      std::string& doubt) {
  std::vector<std::uint8_t> record(geometry.bytesPerRecord);
  RecordFacts facts;
  std::vector<ClusterRun> runs;
  if (!readVolumeBytes(volume, geometry.masterFileTableCluster * geometry.bytesPerCluster,
                       record.size(), record.data()) ||
      readFileRecord(record.data(), record.size(), kMasterFileTableRecord, facts) !=
          RecordState::InUse ||
      facts.base != 0 || !facts.dataNonResident ||
      !decodePart(record.data(), facts.dataPart, geometry, runs) || runs.empty() ||
      runs.front().sparse || runs.front().firstCluster != geometry.masterFileTableCluster) {
    return fail(doubt, "the MFT's own record cannot be read");
  }
  std::uint64_t bytes = std::min(facts.dataPart.dataSize, facts.dataPart.initializedSize);
  recordCount = bytes / geometry.bytesPerRecord;
  if (recordCount <= kFirstOrdinaryRecord ||
      recordCount > std::numeric_limits<std::uint32_t>::max()) {
    return fail(doubt, "the MFT's size is out of range");
  }
  std::uint64_t neededBytes = recordCount * geometry.bytesPerRecord;
  if (clustersOf(runs) < (neededBytes + geometry.bytesPerCluster - 1) / geometry.bytesPerCluster) {
    return fail(doubt, "the MFT's runs continue beyond its own record");
  }
  std::vector<ClusterRun> byCluster = runs;
  std::sort(byCluster.begin(), byCluster.end(), [](const ClusterRun& a, const ClusterRun& b) {
    return a.firstCluster < b.firstCluster;
  });
  for (std::size_t i = 0; i + 1 < byCluster.size(); ++i) {
    if (byCluster[i].sparse ||
        byCluster[i].firstCluster + byCluster[i].clusterCount > byCluster[i + 1].firstCluster) {
      return fail(doubt, "the MFT's runs overlap or are sparse");
    }
  }
  if (byCluster.back().sparse) return fail(doubt, "the MFT's runs overlap or are sparse");
  ranges.clear();
  for (const ClusterRun& run : runs) {
    if (neededBytes == 0) break;
    std::uint64_t size = std::min(run.clusterCount * geometry.bytesPerCluster, neededBytes);
    ranges.push_back({run.firstCluster * geometry.bytesPerCluster, size});
    neededBytes -= size;
  }
  return true;
}

bool readAttributeListValue(TablePass& reading, std::uint32_t base, const std::uint8_t* list,
                            std::size_t size) {
  if (!readAttributeList(list, size, reading.entries)) {
    return fail(reading.doubt, "the attribute list of " + recordText(base) + " cannot be read");
  }
  for (const AttributeListEntry& entry : reading.entries) {
    if (referencedRecord(entry.holder) != base) reading.listed.push_back({base, entry.holder});
  }
  return true;
}

bool noteAttributeList(TablePass& reading, const std::uint8_t* record, std::uint32_t base) {
  const RecordFacts& facts = reading.facts;
  if (!facts.attributeListNonResident) {
    return readAttributeListValue(reading, base, record + facts.attributeListValue.at,
                                  facts.attributeListValue.size);
  }
  OutlyingList list;
  list.base = base;
  list.size = facts.attributeListPart.dataSize;
  if (list.size > kLargestAttributeList ||
      !decodePart(record, facts.attributeListPart, reading.table.geometry, list.runs)) {
    return fail(reading.doubt, "the attribute list of " + recordText(base) + " cannot be read");
  }
  reading.outlyingLists.push_back(std::move(list));
  return true;
}

bool noteNames(TablePass& reading, const std::uint8_t* record, std::uint32_t file) {
  FileTable& table = reading.table;
  for (const RecordName& name : reading.facts.names) {
    if (name.nameSpace == kDosNamespace || file < kFirstOrdinaryRecord) continue;
    if (referencedRecord(name.parent) >= reading.recordCount ||
        table.names.size() + name.length > std::numeric_limits<std::uint32_t>::max()) {
      return fail(reading.doubt, "a name of " + recordText(file) + " is out of range");
    }
    TableLink link;
    link.folder = static_cast<std::uint32_t>(referencedRecord(name.parent));
    link.folderSequence = referencedSequence(name.parent);
    link.file = file;
    link.nameAt = static_cast<std::uint32_t>(table.names.size());
    link.nameLength = static_cast<std::uint16_t>(name.length);
    appendRecordName(record, name, table.names);
    table.links.push_back(link);
  }
  return true;
}

bool noteData(TablePass& reading, const std::uint8_t* record, std::uint32_t file,
              std::uint64_t number) {
  const RecordFacts& facts = reading.facts;
  if (!facts.hasDataStart) return true;
  TableFile& entry = reading.table.files[file];
  if (entry.flags & kFileHasData) {
    return fail(reading.doubt, recordText(file) + " has two unnamed data streams");
  }
  entry.flags |= kFileHasData;
  entry.size = facts.dataSize;
  if (number != kUpcaseRecord) return true;
  reading.upcaseFound =
      facts.dataNonResident && facts.dataSize == kUpcaseBytes &&
      decodePart(record, facts.dataPart, reading.table.geometry, reading.upcaseRuns);
  return true;
}

bool noteReparsePoint(TablePass& reading, const std::uint8_t* record, std::uint32_t file) {
  const RecordFacts& facts = reading.facts;
  if (!facts.hasReparsePoint) return true;
  TableFile& entry = reading.table.files[file];
  TableReparsePoint point;
  point.file = file;
  point.readable = !facts.reparseNonResident;
  if ((entry.flags & kFileIsReparsePoint) ||
      (point.readable &&
       !readReparsePoint(record + facts.reparseValue.at, facts.reparseValue.size, point.facts))) {
    return fail(reading.doubt, "the reparse point of " + recordText(file) + " cannot be read");
  }
  entry.flags |= kFileIsReparsePoint;
  reading.table.reparsePoints.push_back(std::move(point));
  return true;
}

// Takes in one record of the pass; false with a doubt.
bool takeRecord(TablePass& reading, std::uint8_t* record, std::uint64_t number) {
  FileTable& table = reading.table;
  RecordFacts& facts = reading.facts;
  RecordState state = readFileRecord(record, table.geometry.bytesPerRecord, number, facts);
  if (state == RecordState::Free) return true;
  if (state == RecordState::Damaged) return fail(reading.doubt, recordText(number) + " is damaged");
  auto own = static_cast<std::uint32_t>(number);
  std::uint32_t file = own;
  if (facts.base != 0) {
    std::uint64_t base = referencedRecord(facts.base);
    if (base >= reading.recordCount || base == number || facts.hasAttributeList) {
      return fail(reading.doubt, recordText(number) + " names no valid base record");
    }
    file = static_cast<std::uint32_t>(base);
    reading.claims.push_back({file, referenceOf(number, facts.sequence)});
    reading.namedBases.emplace_back(file, referencedSequence(facts.base));
  } else {
    if (!facts.hasStandardInformation) {
      return fail(reading.doubt, recordText(number) + " has no standard information");
    }
    TableFile& entry = table.files[own];
    entry.flags |= kFileIsBase | (facts.isFolder ? kFileIsFolder : 0);
    entry.sequence = facts.sequence;
    entry.lastWrite = facts.lastWrite;
    entry.attributes = facts.fileAttributes;
    if (facts.hasAttributeList && !noteAttributeList(reading, record, own)) return false;
  }
  return noteNames(reading, record, file) && noteData(reading, record, file, number) &&
         noteReparsePoint(reading, record, file);
}

// Reads every record in the ranges, in order; a record may lie across two chunks.
bool readRecords(TablePass& reading, const std::vector<VolumeRange>& ranges) {
  const std::size_t recordSize = reading.table.geometry.bytesPerRecord;
  VolumeStreamPtr stream = streamVolumeRanges(reading.volume, ranges);
  std::vector<std::uint8_t>& carried = reading.carried;
  carried.resize(recordSize);
  std::size_t carriedSize = 0;
  std::uint64_t number = 0;
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  while (number < reading.recordCount && nextVolumeChunk(*stream, data, size)) {
    std::size_t at = 0;
    if (carriedSize > 0) {
      at = std::min(recordSize - carriedSize, size);
      std::memcpy(carried.data() + carriedSize, data, at);
      carriedSize += at;
      if (carriedSize == recordSize) {
        carriedSize = 0;
        if (!takeRecord(reading, carried.data(), number++)) return false;
      }
    }
    for (; size - at >= recordSize && number < reading.recordCount; at += recordSize) {
      if (!takeRecord(reading, data + at, number++)) return false;
    }
    if (at < size && number < reading.recordCount) {
      carriedSize = size - at;
      std::memcpy(carried.data(), data + at, carriedSize);
    }
  }
  if (volumeStreamFailed(*stream) || number != reading.recordCount) {
    return fail(reading.doubt, "the MFT could not be read to its end");
  }
  return true;
}

bool readOutlyingLists(TablePass& reading) {
  std::vector<std::uint8_t> bytes;
  for (const OutlyingList& list : reading.outlyingLists) {
    if (!readRuns(reading.volume, reading.table.geometry, list.runs, list.size, bytes) ||
        !readAttributeListValue(reading, list.base, bytes.data(), bytes.size())) {
      return fail(reading.doubt,
                  "the attribute list of " + recordText(list.base) + " cannot be read");
    }
  }
  return true;
}

// Every extension record belongs to a base record in use that lists it, and every record a base
// record lists is an extension record of it.
bool checkExtensions(TablePass& reading) {
  for (auto [record, sequence] : reading.namedBases) {
    const TableFile& base = reading.table.files[record];
    if (!(base.flags & kFileIsBase) || base.sequence != sequence) {
      return fail(reading.doubt, "an extension record names a base record not in use");
    }
  }
  std::vector<ExtensionClaim>& listed = reading.listed;
  std::sort(listed.begin(), listed.end());
  listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
  std::sort(reading.claims.begin(), reading.claims.end());
  if (listed != reading.claims) {
    return fail(reading.doubt, "extension records and attribute lists disagree");
  }
  return true;
}

void settleAttributes(FileTable& table) {
  for (TableFile& file : table.files) {
    if (!(file.flags & kFileIsBase)) continue;
    file.attributes &= ~(kFolderAttribute | kReparsePointAttribute);
    if (file.flags & kFileIsFolder) {
      file.attributes |= kFolderAttribute;
      file.size = 0;
    }
    if (file.flags & kFileIsReparsePoint) file.attributes |= kReparsePointAttribute;
  }
}

// Every folder's chain of parents ends at the root or at one of the volume's own folders ($Extend),
// never in a loop: a loop would cut its folders off from the tree that a listing shows.
bool checkParentChains(TablePass& reading, const std::vector<std::uint32_t>& parents,
                       std::uint32_t noParent) {
  enum : std::uint8_t { kUnknown, kOnTheWay, kEndsWell };
  std::vector<std::uint8_t> state(parents.size(), kUnknown);
  std::vector<std::uint32_t> way;
  for (std::uint32_t start = kFirstOrdinaryRecord; start < parents.size(); ++start) {
    way.clear();
    for (std::uint32_t folder = start;
         folder != noParent && folder >= kFirstOrdinaryRecord && state[folder] != kEndsWell;
         folder = parents[folder]) {
      if (state[folder] == kOnTheWay) {
        return fail(reading.doubt, "folder " + recordText(folder) + " lies within itself");
      }
      state[folder] = kOnTheWay;
      way.push_back(folder);
    }
    for (std::uint32_t folder : way) state[folder] = kEndsWell;
  }
  return true;
}

// Every name lies in a folder in use that the name's reference means, no folder has more than one
// name outside the DOS namespace, and no folder lies within itself: so the folders form a tree
// from the root, and a walk down from it visits each folder once.
bool checkLinks(TablePass& reading) {
  const FileTable& table = reading.table;
  const TableFile& root = table.files[kRootFolderRecord];
  if ((root.flags & (kFileIsBase | kFileIsFolder)) != (kFileIsBase | kFileIsFolder)) {
    return fail(reading.doubt, "the root folder's record is not a folder");
  }
  constexpr std::uint32_t kNoParent = std::numeric_limits<std::uint32_t>::max();
  std::vector<std::uint32_t> parents(table.files.size(), kNoParent);
  for (const TableLink& link : table.links) {
    const TableFile& folder = table.files[link.folder];
    if (!(folder.flags & kFileIsBase) || !(folder.flags & kFileIsFolder) ||
        folder.sequence != link.folderSequence) {
      return fail(reading.doubt,
                  "a name of " + recordText(link.file) + " lies in a folder that is not in use");
    }
    if (table.files[link.file].flags & kFileIsFolder) {
      if (parents[link.file] != kNoParent) {
        return fail(reading.doubt, "folder " + recordText(link.file) + " has two names");
      }
      parents[link.file] = link.folder;
    }
  }
  return checkParentChains(reading, parents, kNoParent);
}

bool readUpcase(TablePass& reading) {
  std::vector<std::uint8_t> bytes;
  if (!reading.upcaseFound ||
      !readRuns(reading.volume, reading.table.geometry, reading.upcaseRuns, kUpcaseBytes, bytes)) {
    return fail(reading.doubt, "the upcase table cannot be read");
  }
  std::u16string& upcase = reading.table.upcase;
  upcase.resize(kUpcaseEntries);
  for (std::size_t i = 0; i < kUpcaseEntries; ++i) {
    upcase[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return true;
}

// Marks the folders whose listing only the system can give: those that are, or hold, a reparse
// point other than a junction or symbolic link, or one whose data was not read.
void markFoldersOfOtherReparsePoints(FileTable& table) {
  auto isOther = [&](std::uint32_t file) {
    if (!(table.files[file].flags & kFileIsReparsePoint)) return false;
    const TableReparsePoint* point = findReparsePoint(table, file);
    return !point->readable ||
           (point->facts.tag != kMountPointTag && point->facts.tag != kSymbolicLinkTag);
  };
  for (const TableLink& link : table.links) {
    if (isOther(link.file)) table.files[link.folder].flags |= kFileListingIsTheSystems;
  }
  for (const TableReparsePoint& point : table.reparsePoints) {
    if (isOther(point.file)) table.files[point.file].flags |= kFileListingIsTheSystems;
  }
}

// Groups the links by folder and puts each folder's in index order; two links of one folder under
// the very same name are a doubt.
bool orderLinks(TablePass& reading) {
  FileTable& table = reading.table;
  std::vector<std::uint32_t>& first = table.firstLink;
  first.assign(table.files.size() + 1, 0);
  for (const TableLink& link : table.links) ++first[link.folder + 1];
  for (std::size_t i = 1; i < first.size(); ++i) first[i] += first[i - 1];
  std::vector<TableLink> grouped(table.links.size());
  std::vector<std::uint32_t> next(first.begin(), first.end() - 1);
  for (const TableLink& link : table.links) grouped[next[link.folder]++] = link;
  table.links = std::move(grouped);
  const char16_t* upcase = table.upcase.data();
  auto before = [&](const TableLink& a, const TableLink& b) {
    return collateNames(upcase, linkName(table, a), linkName(table, b)) < 0;
  };
  for (std::size_t folder = 0; folder + 1 < first.size(); ++folder) {
    auto begin = table.links.begin() + first[folder];
    auto end = table.links.begin() + first[folder + 1];
    if (end - begin < 2) continue;
    std::sort(begin, end, before);
    if (std::adjacent_find(begin, end, [&](const TableLink& a, const TableLink& b) {
          return !before(a, b);
        }) != end) {
      return fail(reading.doubt, "folder " + recordText(folder) + " holds one name twice");
    }
  }
  return true;
}

}  // namespace

bool loadFileTable(VolumeFile& volume, FileTable& table, std::string& doubt) {
  table = FileTable();
  std::vector<std::uint8_t> bootSector(512);
  if (!readVolumeBytes(volume, 0, bootSector.size(), bootSector.data()) ||
      !readBootSector(bootSector.data(), bootSector.size(), table.geometry)) {
    return fail(doubt, "no NTFS boot sector");
  }
  TablePass reading(volume, table, doubt);
  std::vector<VolumeRange> ranges;
  if (!findTableExtents(volume, table.geometry, ranges, reading.recordCount, doubt)) return false;
  table.files.assign(static_cast<std::size_t>(reading.recordCount), TableFile());
  if (!readRecords(reading, ranges) || !readOutlyingLists(reading) || !checkExtensions(reading)) {
    return false;
  }
  settleAttributes(table);
  if (!checkLinks(reading) || !readUpcase(reading) || !orderLinks(reading)) return false;
  std::sort(table.reparsePoints.begin(), table.reparsePoints.end(),
            [](const TableReparsePoint& a, const TableReparsePoint& b) { return a.file < b.file; });
  markFoldersOfOtherReparsePoints(table);
  return true;
}

std::u16string_view linkName(const FileTable& table, const TableLink& link) {
  return std::u16string_view(table.names).substr(link.nameAt, link.nameLength);
}

const TableReparsePoint* findReparsePoint(const FileTable& table, std::uint32_t file) {
  auto found = std::lower_bound(
      table.reparsePoints.begin(), table.reparsePoints.end(), file,
      [](const TableReparsePoint& point, std::uint32_t wanted) { return point.file < wanted; });
  return found != table.reparsePoints.end() && found->file == file ? &*found : nullptr;
}

std::uint64_t volumeIdentity(const FileTable& table) {
  return table.geometry.serialNumber & 0xFFFFFFFF;
}

std::uint64_t fileIdentity(const FileTable& table, std::uint32_t file) {
  return referenceOf(file, table.files[file].sequence);
}
