#include "ntfs/records.h"

#include <cstring>
#include <limits>

namespace {

// Little-endian fields at a byte offset that the caller has checked to lie in the buffer.
std::uint16_t read16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

std::uint32_t read32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(read16(at)) | static_cast<std::uint32_t>(read16(at + 2)) << 16;
}

std::uint64_t read64(const std::uint8_t* at) {
  return static_cast<std::uint64_t>(read32(at)) | static_cast<std::uint64_t>(read32(at + 4)) << 32;
}

void write16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

bool isPowerOfTwo(std::uint64_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

// The boot sector's fields.
constexpr std::size_t kBootSectorSize = 512;
constexpr std::size_t kOemNameAt = 3;
constexpr std::size_t kBytesPerSectorAt = 0x0B;
constexpr std::size_t kSectorsPerClusterAt = 0x0D;
constexpr std::size_t kTotalSectorsAt = 0x28;
constexpr std::size_t kMasterFileTableClusterAt = 0x30;
constexpr std::size_t kClustersPerRecordAt = 0x40;
constexpr std::size_t kSerialNumberAt = 0x48;
constexpr std::size_t kBootSignatureAt = 0x1FE;
constexpr std::uint32_t kLargestCluster = 2u << 20;
constexpr std::uint32_t kLargestRecord = 64u << 10;

// A count of sectors or clusters in one signed byte: a negative value n stands for 2^-n.
std::uint64_t countFromSignedByte(std::uint8_t value, std::uint64_t unit) {
  if (value < 0x80) return value * unit;
  unsigned shift = 256u - value;
  return shift < 32 ? std::uint64_t{1} << shift : 0;
}

// The file record header's fields.
constexpr std::size_t kUsaOffsetAt = 4;
constexpr std::size_t kUsaCountAt = 6;
constexpr std::size_t kSequenceAt = 0x10;
constexpr std::size_t kFirstAttributeAt = 0x14;
constexpr std::size_t kRecordFlagsAt = 0x16;
constexpr std::size_t kBytesInUseAt = 0x18;
constexpr std::size_t kBytesAllocatedAt = 0x1C;
constexpr std::size_t kBaseRecordAt = 0x20;
constexpr std::size_t kRecordNumberAt = 0x2C;
// Headers from this size on hold the record's own number.
constexpr std::size_t kHeaderWithNumber = 0x30;
constexpr std::size_t kShortestHeader = 0x28;
constexpr std::uint16_t kInUseFlag = 1;
constexpr std::uint16_t kFolderFlag = 2;

// The attribute header's fields.
constexpr std::uint32_t kEndOfAttributes = 0xFFFFFFFF;
constexpr std::size_t kAttributeLengthAt = 4;
constexpr std::size_t kNonResidentAt = 8;
constexpr std::size_t kNameLengthAt = 9;
constexpr std::size_t kNameOffsetAt = 0x0A;
constexpr std::size_t kShortestAttribute = 0x10;
constexpr std::size_t kValueLengthAt = 0x10;
constexpr std::size_t kValueOffsetAt = 0x14;
constexpr std::size_t kResidentHeader = 0x18;
constexpr std::size_t kLowestVcnAt = 0x10;
constexpr std::size_t kHighestVcnAt = 0x18;
constexpr std::size_t kRunListOffsetAt = 0x20;
constexpr std::size_t kDataSizeAt = 0x30;
constexpr std::size_t kInitializedSizeAt = 0x38;
constexpr std::size_t kNonResidentHeader = 0x40;

// The values' fields.
constexpr std::size_t kLastWriteAt = 0x08;
constexpr std::size_t kFileAttributesAt = 0x20;
constexpr std::size_t kShortestStandardInformation = 0x24;
constexpr std::size_t kNameLengthInFileNameAt = 0x40;
constexpr std::size_t kNamespaceAt = 0x41;
constexpr std::size_t kFileNameTextAt = 0x42;

// One attribute of a record, as its header gives it, checked to lie within the record.
struct AttributeHeader {
  std::uint32_t type = 0;
  std::size_t at = 0;
  std::size_t length = 0;
  bool nonResident = false;
  bool named = false;
  ResidentValue value;   // when resident
  NonResidentPart part;  // when non-resident
};

// Reads the attribute header at `at`, among the record's `used` bytes; false when it does not fit.
bool readAttributeHeader(const std::uint8_t* record, std::size_t at, std::size_t used,
                         AttributeHeader& header) {
  const std::uint8_t* start = record + at;
  header.type = read32(start);
  header.at = at;
  header.length = read32(start + kAttributeLengthAt);
  if (header.length < kShortestAttribute || header.length % 8 != 0 || header.length > used - at) {
    return false;
  }
  header.nonResident = start[kNonResidentAt] != 0;
  std::size_t nameLength = start[kNameLengthAt];
  std::size_t nameOffset = read16(start + kNameOffsetAt);
  header.named = nameLength != 0;
  if (header.named && nameOffset + 2 * nameLength > header.length) return false;
  if (!header.nonResident) {
    if (header.length < kResidentHeader) return false;
    header.value.size = read32(start + kValueLengthAt);
    std::size_t valueOffset = read16(start + kValueOffsetAt);
    if (valueOffset > header.length || header.value.size > header.length - valueOffset) {
      return false;
    }
    header.value.at = at + valueOffset;
    return true;
  }
  if (header.length < kNonResidentHeader) return false;
  NonResidentPart& part = header.part;
  part.lowestVcn = read64(start + kLowestVcnAt);
  part.highestVcn = read64(start + kHighestVcnAt);
  std::size_t runListOffset = read16(start + kRunListOffsetAt);
  part.dataSize = read64(start + kDataSizeAt);
  part.initializedSize = read64(start + kInitializedSizeAt);
  // An empty attribute ends before it starts: its highest VCN is -1.
  bool empty = part.lowestVcn == 0 && part.highestVcn == std::numeric_limits<std::uint64_t>::max();
  if (!empty && part.highestVcn < part.lowestVcn) return false;
  if (runListOffset < kNonResidentHeader || runListOffset > header.length) return false;
  part.runListAt = at + runListOffset;
  part.runListSize = header.length - runListOffset;
  return true;
}

bool readStandardInformation(const std::uint8_t* record, const AttributeHeader& header,
                             RecordFacts& facts) {
  if (header.nonResident || facts.hasStandardInformation ||
      header.value.size < kShortestStandardInformation) {
    return false;
  }
  const std::uint8_t* value = record + header.value.at;
  facts.hasStandardInformation = true;
  facts.lastWrite = read64(value + kLastWriteAt);
  facts.fileAttributes = read32(value + kFileAttributesAt);
  return true;
}

bool readFileName(const std::uint8_t* record, const AttributeHeader& header, RecordFacts& facts) {
  if (header.nonResident || header.value.size < kFileNameTextAt) return false;
  const std::uint8_t* value = record + header.value.at;
  RecordName name;
  name.parent = read64(value);
  name.length = value[kNameLengthInFileNameAt];
  name.nameSpace = value[kNamespaceAt];
  name.nameAt = header.value.at + kFileNameTextAt;
  if (name.length == 0 || kFileNameTextAt + 2 * name.length > header.value.size) return false;
  facts.names.push_back(name);
  return true;
}

// The unnamed $DATA: only its first part tells the size. Named streams are not the file's size.
bool readData(const AttributeHeader& header, RecordFacts& facts) {
  if (header.named) return true;
  if (!header.nonResident) {
    if (facts.hasDataStart) return false;
    facts.hasDataStart = true;
    facts.dataSize = header.value.size;
    return true;
  }
  if (header.part.lowestVcn != 0) return true;
  if (facts.hasDataStart) return false;
  facts.hasDataStart = true;
  facts.dataSize = header.part.dataSize;
  facts.dataNonResident = true;
  facts.dataPart = header.part;
  return true;
}

// An attribute list or a reparse point: one whole attribute, resident or in one part.
bool readWholeAttribute(const AttributeHeader& header, bool& seen, bool& nonResident,
                        ResidentValue& value, NonResidentPart* part) {
  if (header.named || seen) return false;
  seen = true;
  nonResident = header.nonResident;
  if (!nonResident) {
    value = header.value;
    return true;
  }
  if (header.part.lowestVcn != 0) return false;
  if (part) *part = header.part;
  return true;
}

bool readAttribute(const std::uint8_t* record, const AttributeHeader& header, RecordFacts& facts) {
  switch (header.type) {
    case kStandardInformationType:
      return readStandardInformation(record, header, facts);
    case kFileNameType:
      return readFileName(record, header, facts);
    case kDataType:
      return readData(header, facts);
    case kAttributeListType:
      return readWholeAttribute(header, facts.hasAttributeList, facts.attributeListNonResident,
                                facts.attributeListValue, &facts.attributeListPart);
    case kReparsePointType:
      return readWholeAttribute(header, facts.hasReparsePoint, facts.reparseNonResident,
                                facts.reparseValue, nullptr);
    default:
      return true;
  }
}

// Reads the attributes from `at` up to the end marker within the record's `used` bytes.
bool readAttributes(const std::uint8_t* record, std::size_t at, std::size_t used,
                    RecordFacts& facts) {
  AttributeHeader header;
  // Each attribute is at least kShortestAttribute bytes long, so the walk ends.
  while (used - at >= 4) {
    if (read32(record + at) == kEndOfAttributes) return true;
    if (used - at < kShortestAttribute || !readAttributeHeader(record, at, used, header) ||
        !readAttribute(record, header, facts)) {
      return false;
    }
    at += header.length;
  }
  return false;
}

void clearFacts(RecordFacts& facts) {
  std::vector<RecordName> names = std::move(facts.names);
  facts = RecordFacts();
  names.clear();
  facts.names = std::move(names);
}

bool isSigned(const std::uint8_t* record, const char* signature) {
  return std::memcmp(record, signature, 4) == 0;
}

// Reads an unsigned little-endian number of `size` bytes (at most 8).
std::uint64_t readUnsigned(const std::uint8_t* at, unsigned size) {
  std::uint64_t value = 0;
  for (unsigned i = size; i-- > 0;) value = value << 8 | at[i];
  return value;
}

// Reads a signed little-endian number of `size` bytes (1 to 8).
std::int64_t readSigned(const std::uint8_t* at, unsigned size) {
  std::uint64_t value = readUnsigned(at, size);
  if (size < 8 && (at[size - 1] & 0x80)) value |= ~std::uint64_t{0} << (8 * size);
  return static_cast<std::int64_t>(value);
}

// Adds a signed delta to a cluster number; false when the result would leave 0 to INT64_MAX.
bool moveCluster(std::int64_t& cluster, std::int64_t delta) {
  if (delta > 0 && cluster > std::numeric_limits<std::int64_t>::max() - delta) return false;
  cluster += delta;
  return cluster >= 0;
}

std::u16string decodeUtf16(const std::uint8_t* at, std::size_t units) {
  std::u16string text(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) text[i] = static_cast<char16_t>(read16(at + 2 * i));
  return text;
}

// The reparse data's fields.
constexpr std::size_t kReparseHeader = 8;
constexpr std::size_t kReparseDataLengthAt = 4;
constexpr std::size_t kNameFieldsSize = 8;
constexpr std::size_t kLinkFlagsSize = 4;

}  // namespace

bool readBootSector(const std::uint8_t* sector, std::size_t size, VolumeGeometry& geometry) {
  if (size < kBootSectorSize || std::memcmp(sector + kOemNameAt, "NTFS    ", 8) != 0 ||
      sector[kBootSignatureAt] != 0x55 || sector[kBootSignatureAt + 1] != 0xAA) {
    return false;
  }
  geometry.bytesPerSector = read16(sector + kBytesPerSectorAt);
  if (!isPowerOfTwo(geometry.bytesPerSector) || geometry.bytesPerSector < 256 ||
      geometry.bytesPerSector > 4096) {
    return false;
  }
  std::uint64_t sectorsPerCluster = countFromSignedByte(sector[kSectorsPerClusterAt], 1);
  std::uint64_t cluster = sectorsPerCluster * geometry.bytesPerSector;
  if (!isPowerOfTwo(cluster) || cluster > kLargestCluster) return false;
  geometry.bytesPerCluster = static_cast<std::uint32_t>(cluster);
  std::uint64_t record = countFromSignedByte(sector[kClustersPerRecordAt], cluster);
  if (!isPowerOfTwo(record) || record < kFixupStride || record > kLargestRecord ||
      record < geometry.bytesPerSector) {
    return false;
  }
  geometry.bytesPerRecord = static_cast<std::uint32_t>(record);
  geometry.clusterCount = read64(sector + kTotalSectorsAt) / sectorsPerCluster;
  geometry.masterFileTableCluster = read64(sector + kMasterFileTableClusterAt);
  geometry.serialNumber = read64(sector + kSerialNumberAt);
  return geometry.masterFileTableCluster < geometry.clusterCount;
}

bool applyFixups(std::uint8_t* record, std::size_t size) {
  if (size < kFixupStride || size % kFixupStride != 0) return false;
  std::size_t usaOffset = read16(record + kUsaOffsetAt);
  std::size_t usaCount = read16(record + kUsaCountAt);
  // The array lies in the first stride, clear of that stride's last two bytes, which it restores.
  if (usaOffset % 2 != 0 || usaCount != size / kFixupStride + 1 ||
      usaOffset + 2 * usaCount > kFixupStride - 2) {
    return false;
  }
  std::uint16_t sequenceNumber = read16(record + usaOffset);
  for (std::size_t stride = 1; stride < usaCount; ++stride) {
    std::uint8_t* end = record + stride * kFixupStride - 2;
    if (read16(end) != sequenceNumber) return false;
    write16(end, read16(record + usaOffset + 2 * stride));
  }
  return true;
}

bool decodeRunList(const std::uint8_t* list, std::size_t size, std::uint64_t clusterCount,
                   std::vector<ClusterRun>& runs) {
  runs.clear();
  std::int64_t cluster = 0;
  std::size_t at = 0;
  while (at < size && list[at] != 0) {
    unsigned lengthSize = list[at] & 0x0F;
    unsigned offsetSize = list[at] >> 4;
    if (lengthSize == 0 || lengthSize > 8 || offsetSize > 8 ||
        size - at - 1 < lengthSize + offsetSize) {
      return false;
    }
    std::int64_t length = readSigned(list + at + 1, lengthSize);
    if (length <= 0) return false;
    ClusterRun run;
    run.clusterCount = static_cast<std::uint64_t>(length);
    run.sparse = offsetSize == 0;
    if (!run.sparse) {
      if (!moveCluster(cluster, readSigned(list + at + 1 + lengthSize, offsetSize))) return false;
      run.firstCluster = static_cast<std::uint64_t>(cluster);
      if (run.clusterCount > clusterCount || run.firstCluster > clusterCount - run.clusterCount) {
        return false;
      }
    }
    runs.push_back(run);
    at += 1 + lengthSize + offsetSize;
  }
  return true;
}

RecordState readFileRecord(std::uint8_t* record, std::size_t size, std::uint64_t number,
                           RecordFacts& facts) {
  clearFacts(facts);
  if (size < kFixupStride) return RecordState::Damaged;
  if (read32(record) == 0) return RecordState::Free;  // never written
  if (!isSigned(record, "FILE")) return RecordState::Damaged;
  std::uint16_t flags = read16(record + kRecordFlagsAt);
  if (!(flags & kInUseFlag)) return RecordState::Free;
  if (!applyFixups(record, size)) return RecordState::Damaged;
  std::size_t usaEnd =
      read16(record + kUsaOffsetAt) + 2 * std::size_t{read16(record + kUsaCountAt)};
  std::size_t firstAttribute = read16(record + kFirstAttributeAt);
  std::size_t used = read32(record + kBytesInUseAt);
  std::size_t headerEnd = read16(record + kUsaOffsetAt);
  if (read32(record + kBytesAllocatedAt) != size || used > size || firstAttribute < usaEnd ||
      firstAttribute < kShortestHeader || firstAttribute % 8 != 0 || firstAttribute > used) {
    return RecordState::Damaged;
  }
  if (headerEnd >= kHeaderWithNumber &&
      read32(record + kRecordNumberAt) != static_cast<std::uint32_t>(number)) {
    return RecordState::Damaged;
  }
  facts.isFolder = (flags & kFolderFlag) != 0;
  facts.sequence = read16(record + kSequenceAt);
  facts.base = read64(record + kBaseRecordAt);
  if (!readAttributes(record, firstAttribute, used, facts)) return RecordState::Damaged;
  return RecordState::InUse;
}

void appendRecordName(const std::uint8_t* record, const RecordName& name, std::u16string& text) {
  const std::uint8_t* at = record + name.nameAt;
  for (std::size_t i = 0; i < name.length; ++i) {
    text.push_back(static_cast<char16_t>(read16(at + 2 * i)));
  }
}

bool readAttributeList(const std::uint8_t* list, std::size_t size,
                       std::vector<AttributeListEntry>& entries) {
  constexpr std::size_t kEntryLengthAt = 4;
  constexpr std::size_t kEntryNameLengthAt = 6;
  constexpr std::size_t kEntryNameOffsetAt = 7;
  constexpr std::size_t kEntryLowestVcnAt = 8;
  constexpr std::size_t kEntryHolderAt = 0x10;
  constexpr std::size_t kShortestEntry = 0x1A;
  entries.clear();
  std::size_t at = 0;
  while (at < size) {
    if (size - at < kShortestEntry) return false;
    const std::uint8_t* entry = list + at;
    std::size_t length = read16(entry + kEntryLengthAt);
    std::size_t nameEnd = entry[kEntryNameOffsetAt] + 2 * std::size_t{entry[kEntryNameLengthAt]};
    if (length < kShortestEntry || length > size - at || nameEnd > length) return false;
    entries.push_back(
        {read32(entry), read64(entry + kEntryLowestVcnAt), read64(entry + kEntryHolderAt)});
    at += length;
  }
  return true;
}

bool readReparsePoint(const std::uint8_t* value, std::size_t size, ReparseFacts& facts) {
  facts = ReparseFacts();
  if (size < kReparseHeader) return false;
  facts.tag = read32(value);
  std::size_t dataLength = read16(value + kReparseDataLengthAt);
  if (dataLength > size - kReparseHeader) return false;
  if (facts.tag != kMountPointTag && facts.tag != kSymbolicLinkTag) return true;
  const std::uint8_t* data = value + kReparseHeader;
  std::size_t fieldsSize = kNameFieldsSize + (facts.tag == kSymbolicLinkTag ? kLinkFlagsSize : 0);
  if (dataLength < fieldsSize) return false;
  std::size_t targetOffset = read16(data);
  std::size_t targetLength = read16(data + 2);
  std::size_t namesSize = dataLength - fieldsSize;
  if (targetLength % 2 != 0 || targetOffset > namesSize ||
      targetLength > namesSize - targetOffset) {
    return false;
  }
  facts.relative =
      facts.tag == kSymbolicLinkTag && (read32(data + kNameFieldsSize) & kRelativeLinkFlag);
  facts.target = decodeUtf16(data + fieldsSize + targetOffset, targetLength / 2);
  facts.hasTarget = true;
  return true;
}
