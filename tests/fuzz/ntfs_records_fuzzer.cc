// The NTFS readers on any bytes: a file record, the run lists, attribute lists and reparse points
// it points to, and a boot sector. Under the sanitizers, none reads outside its buffer; what a
// reader reports of a record lies within the record, and every run it decodes within the volume.
//
// The first byte chooses the record's size (1 KiB or 4 KiB) and whether the update sequence is
// written over the rest of the input first, as the file system writes a record, so that the
// fuzzer reaches the attributes past the fixup check; the seeds are records of ntfs-3g volumes in
// that form.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "ntfs/records.h"

namespace {

constexpr std::uint64_t kClusterCount = 1 << 20;

void writeFixups(std::uint8_t* record, std::size_t size) {
  std::size_t usaOffset = record[4] | record[5] << 8;
  if (usaOffset + 2 * (size / kFixupStride + 1) > kFixupStride - 2) return;
  for (std::size_t stride = 1; stride <= size / kFixupStride; ++stride) {
    std::uint8_t* end = record + stride * kFixupStride - 2;
    std::memcpy(record + usaOffset + 2 * stride, end, 2);
    std::memcpy(end, record + usaOffset, 2);
  }
}

bool within(std::size_t at, std::size_t size, std::size_t bound) {
  return at <= bound && size <= bound - at;
}

void checkRuns(const std::uint8_t* list, std::size_t size) {
  std::vector<ClusterRun> runs;
  if (!decodeRunList(list, size, kClusterCount, runs)) return;
  for (const ClusterRun& run : runs) {
    require(run.clusterCount > 0, "a run has clusters");
    require(run.sparse ||
                (run.firstCluster < kClusterCount &&
                 run.clusterCount <= kClusterCount - run.firstCluster),
            "a run lies within the volume");
  }
}

void checkRecord(std::uint8_t* record, std::size_t size) {
  RecordFacts facts;
  if (readFileRecord(record, size, 7, facts) != RecordState::InUse) return;
  for (const RecordName& name : facts.names) {
    require(name.length > 0 && within(name.nameAt, 2 * name.length, size),
            "a name lies within its record");
    std::u16string text;
    appendRecordName(record, name, text);
    require(text.size() == name.length, "a name has its length");
  }
  if (facts.hasDataStart && facts.dataNonResident) {
    require(within(facts.dataPart.runListAt, facts.dataPart.runListSize, size),
            "the data's run list lies within its record");
    checkRuns(record + facts.dataPart.runListAt, facts.dataPart.runListSize);
  }
  if (facts.hasAttributeList && !facts.attributeListNonResident) {
    require(within(facts.attributeListValue.at, facts.attributeListValue.size, size),
            "the attribute list lies within its record");
    std::vector<AttributeListEntry> entries;
    readAttributeList(record + facts.attributeListValue.at, facts.attributeListValue.size,
                      entries);
  }
  if (facts.hasReparsePoint && !facts.reparseNonResident) {
    require(within(facts.reparseValue.at, facts.reparseValue.size, size),
            "the reparse point lies within its record");
    ReparseFacts reparse;
    if (readReparsePoint(record + facts.reparseValue.at, facts.reparseValue.size, reparse)) {
      require(2 * reparse.target.size() <= facts.reparseValue.size,
              "a reparse target lies within its value");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t recordSize = (data[0] & 2) ? 4096 : 1024;
  std::vector<std::uint8_t> record(recordSize, 0);
  std::memcpy(record.data(), data + 1, std::min(size - 1, recordSize));
  if (data[0] & 1) writeFixups(record.data(), recordSize);
  checkRecord(record.data(), recordSize);

  // The same bytes as the other structures.
  checkRuns(data + 1, size - 1);
  std::vector<AttributeListEntry> entries;
  readAttributeList(data + 1, size - 1, entries);
  ReparseFacts reparse;
  readReparsePoint(data + 1, size - 1, reparse);
  VolumeGeometry geometry;
  if (readBootSector(data + 1, size - 1, geometry)) {
    require(geometry.bytesPerRecord >= kFixupStride && geometry.bytesPerRecord % kFixupStride == 0,
            "a record is whole strides");
    require(geometry.bytesPerCluster > 0 && geometry.masterFileTableCluster < geometry.clusterCount,
            "the MFT starts within the volume");
  }
  return 0;
}
