// The on-disk layout of an NTFS volume, read from bytes: the boot sector, the update sequence
// fixups of a file record, run lists, the attributes of one file record, attribute lists and
// reparse data. Pure functions over byte buffers: nothing here reads the volume itself.
//
// Every offset and length read from the bytes is checked against the buffer it lies in before it
// is followed, so that no record, however damaged or hostile, makes a function read outside its
// buffer, loop, or give a value it did not find. A function that meets something it cannot trust
// says so in its result; it never guesses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"

// A file record's reference: its number in the master file table (48 bits) and the sequence
// number it had when the reference was made (16 bits).
using FileReference = std::uint64_t;
constexpr std::uint64_t referencedRecord(FileReference reference) {
  return reference & 0xFFFFFFFFFFFFULL;
}
constexpr std::uint16_t referencedSequence(FileReference reference) {
  return static_cast<std::uint16_t>(reference >> 48);
}

// The files every volume has at fixed record numbers, and the first number of an ordinary file:
// records below it hold the volume's own metadata, which no listing shows.
constexpr std::uint32_t kMasterFileTableRecord = 0;
constexpr std::uint32_t kRootFolderRecord = 5;
constexpr std::uint32_t kUpcaseRecord = 10;
constexpr std::uint32_t kFirstOrdinaryRecord = 16;

// Every update sequence covers this many bytes, whatever the sector size.
constexpr std::size_t kFixupStride = 512;

// What the boot sector says of the volume.
struct VolumeGeometry {
  std::uint32_t bytesPerSector = 0;
  std::uint32_t bytesPerCluster = 0;
  std::uint32_t bytesPerRecord = 0;
  std::uint64_t clusterCount = 0;
  std::uint64_t masterFileTableCluster = 0;
  std::uint64_t serialNumber = 0;
};

// Reads the boot sector (its first 512 bytes); false when it is not an NTFS boot sector or its
// numbers are out of the ranges NTFS uses.
bool readBootSector(const std::uint8_t* sector, std::size_t size, VolumeGeometry& geometry);

// Puts back the bytes that the update sequence kept aside at the end of each 512-byte stride of a
// record (or index buffer) of `size` bytes; false when the record's sequence array is malformed
// or a stride's end does not hold the sequence number, as when the record was torn in writing.
bool applyFixups(std::uint8_t* record, std::size_t size);

// One run of a non-resident attribute: `clusterCount` clusters from `firstCluster`, or a sparse
// run (no clusters on the volume) of that length.
struct ClusterRun {
  std::uint64_t firstCluster = 0;
  std::uint64_t clusterCount = 0;
  bool sparse = false;
};

// Decodes a run list into `runs`, replacing its contents. False when the list runs past its bytes,
// uses a field wider than 8 bytes, has a run of no clusters, or puts a run outside the volume's
// `clusterCount` clusters.
bool decodeRunList(const std::uint8_t* list, std::size_t size, std::uint64_t clusterCount,
                   std::vector<ClusterRun>& runs);

// Attribute types this reader looks at.
constexpr std::uint32_t kStandardInformationType = 0x10;
constexpr std::uint32_t kAttributeListType = 0x20;
constexpr std::uint32_t kFileNameType = 0x30;
constexpr std::uint32_t kDataType = 0x80;
constexpr std::uint32_t kReparsePointType = 0xC0;

// The namespace of a $FILE_NAME: a DOS-only short name stands beside a long name and is no entry
// of its own.
constexpr std::uint8_t kDosNamespace = 2;

// One $FILE_NAME of a record: where the name sits in the record, and the folder that holds it.
struct RecordName {
  FileReference parent = 0;
  std::uint8_t nameSpace = 0;
  std::size_t nameAt = 0;  // byte offset in the record of the UTF-16LE name
  std::size_t length = 0;  // in code units
};

// A part of a non-resident attribute: its run list's bytes in the record, and its sizes.
struct NonResidentPart {
  std::size_t runListAt = 0;
  std::size_t runListSize = 0;
  std::uint64_t lowestVcn = 0;
  std::uint64_t highestVcn = 0;
  std::uint64_t dataSize = 0;         // meaningful in the part whose lowest VCN is 0
  std::uint64_t initializedSize = 0;  // likewise
};

// A resident attribute's value in the record.
struct ResidentValue {
  std::size_t at = 0;
  std::size_t size = 0;
};

// What one file record says, as far as a listing needs it. Offsets refer to the record's bytes.
struct RecordFacts {
  bool isFolder = false;
  std::uint16_t sequence = 0;
  FileReference base = 0;  // 0 for a base record; the base record's reference for an extension

  bool hasStandardInformation = false;
  FileTime lastWrite = 0;
  std::uint32_t fileAttributes = 0;

  std::vector<RecordName> names;

  // The unnamed $DATA, when its first part (lowest VCN 0) is in this record: its size, and where
  // it is non-resident, that part's runs.
  bool hasDataStart = false;
  std::uint64_t dataSize = 0;
  bool dataNonResident = false;
  NonResidentPart dataPart;

  bool hasAttributeList = false;
  bool attributeListNonResident = false;
  ResidentValue attributeListValue;
  NonResidentPart attributeListPart;

  bool hasReparsePoint = false;
  bool reparseNonResident = false;
  ResidentValue reparseValue;
};

enum class RecordState {
  Free,     // not in use: never written, or deleted
  InUse,    // in use, and every structure in it checked
  Damaged,  // it cannot be read with trust: a bad signature or fixup, or a malformed attribute
};

// Reads the record of number `number` (`size` bytes, fixups not yet applied; they are applied in
// place). Facts are filled for a record in use. A record whose header says "free" is Free even if
// the rest is damaged.
RecordState readFileRecord(std::uint8_t* record, std::size_t size, std::uint64_t number,
                           RecordFacts& facts);

// Appends the name of `name`, held in `record`, to `text`.
void appendRecordName(const std::uint8_t* record, const RecordName& name, std::u16string& text);

// One entry of an $ATTRIBUTE_LIST: an attribute of the file and the record that holds it.
struct AttributeListEntry {
  std::uint32_t type = 0;
  std::uint64_t lowestVcn = 0;
  FileReference holder = 0;
};

// Reads an attribute list's bytes; false when an entry runs past them or is shorter than its
// fixed part.
bool readAttributeList(const std::uint8_t* list, std::size_t size,
                       std::vector<AttributeListEntry>& entries);

// The reparse tags whose target a listing follows, and the one flag that marks a relative link.
constexpr std::uint32_t kMountPointTag = 0xA0000003;
constexpr std::uint32_t kSymbolicLinkTag = 0xA000000C;
constexpr std::uint32_t kRelativeLinkFlag = 1;

// A reparse point's tag and, for a junction (mount point) or symbolic link, its substitute name
// (the target as the system resolves it) and whether it is relative to the link's folder.
struct ReparseFacts {
  std::uint32_t tag = 0;
  bool hasTarget = false;
  bool relative = false;
  std::u16string target;
};

// Reads a $REPARSE_POINT value; false when it is shorter than its header says, or a junction's or
// link's names lie outside it.
bool readReparsePoint(const std::uint8_t* value, std::size_t size, ReparseFacts& facts);
