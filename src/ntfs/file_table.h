// A volume's master file table read into memory, as a listing needs it: every file's attributes,
// last write and size from its own records, and every folder's entries (one for each of the
// folder's links to a file, DOS-only names and the volume's metadata files left out) in the order
// of the folder's directory index.
//
// The table is read in one pass over the MFT's extents, in large sequential reads. Extension
// records are folded into their base record, and each base record's $ATTRIBUTE_LIST must name
// exactly the extension records that claim it. A table is only made when every record in use
// reads cleanly and the records agree with one another; anything else is a doubt, and the caller
// lists folders as the system gives them instead. Once made, a table does not change, so any
// number of threads may read it at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ntfs/records.h"
#include "platform/clock.h"
#include "platform/volume.h"

// One file record in use as a listing shows it.
struct TableFile {
  FileTime lastWrite = 0;
  std::uint64_t size = 0;        // the unnamed $DATA's size; 0 for a folder
  std::uint32_t attributes = 0;  // as a listing gives them: the folder and reparse point bits set
                                 // from the record itself
  std::uint16_t sequence = 0;
  std::uint8_t flags = 0;  // kFileIsBase, ...
};

// A base record in use: the file's own record. Every other record stays all zero in the table.
constexpr std::uint8_t kFileIsBase = 1;
constexpr std::uint8_t kFileIsFolder = 2;
constexpr std::uint8_t kFileHasData = 4;
constexpr std::uint8_t kFileIsReparsePoint = 8;
// A folder that is, or holds, a reparse point other than a junction or a symbolic link (a cloud
// file placeholder, a file the system compressed, a deduplicated file, an app alias, ...). Filter
// drivers may show such entries otherwise than the record does (cloud placeholders as ordinary
// files and folders, for one), so only the system's listing can say what the folder holds.
constexpr std::uint8_t kFileListingIsTheSystems = 16;

// One entry of a folder: a link from the folder to a file under one name.
struct TableLink {
  std::uint32_t folder = 0;
  std::uint32_t file = 0;
  std::uint32_t nameAt = 0;  // in FileTable::names
  std::uint16_t nameLength = 0;
  std::uint16_t folderSequence = 0;  // as the file's $FILE_NAME gives it
};

// A reparse point's facts, for following junctions and links within the volume.
struct TableReparsePoint {
  std::uint32_t file = 0;
  bool readable = false;  // false: its data lies outside the record and was not read
  ReparseFacts facts;
};

struct FileTable {
  VolumeGeometry geometry;
  std::vector<TableFile> files;  // by record number
  std::vector<TableLink> links;  // by folder, each folder's in index order
  // Folder f's entries are links[firstLink[f]] up to links[firstLink[f + 1]].
  std::vector<std::uint32_t> firstLink;
  std::u16string names;
  std::u16string upcase;                         // kUpcaseEntries units
  std::vector<TableReparsePoint> reparsePoints;  // by file
};

// Reads the table of the volume; false, with the reason in `doubt`, when it cannot be trusted.
bool loadFileTable(VolumeFile& volume, FileTable& table, std::string& doubt);

std::u16string_view linkName(const FileTable& table, const TableLink& link);

// The reparse point of `file`, or null.
const TableReparsePoint* findReparsePoint(const FileTable& table, std::uint32_t file);

// The identity of a file as the system gives it: the volume serial number's low 32 bits, and the
// file's reference (record number and sequence number).
std::uint64_t volumeIdentity(const FileTable& table);
std::uint64_t fileIdentity(const FileTable& table, std::uint32_t file);
