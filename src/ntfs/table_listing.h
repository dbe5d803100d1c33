// Folders of a volume's file table found by path and read as the system's listing reads them: "."
// and ".." first except at the root, then an entry for each link in index order, with the file's
// attributes, last write and size. The dot entries carry the folder bit alone: nothing reads more
// of them. A folder's name is given, no other entry's (as FindEntry says).
//
// A path is followed as the system follows it: names are matched ignoring case through the
// volume's upcase table (the exact name first), and junctions and symbolic links on the way lead
// to their targets where these lie on the same volume. Whatever the table cannot answer for
// certain (a name it does not hold, a target elsewhere, a reparse point it cannot read) is left to
// the caller, who asks the system instead or reports the folder as missing.
#pragma once

#include <cstdint>
#include <string_view>

#include "ntfs/file_table.h"
#include "platform/listing.h"

enum class TableLookup {
  Found,
  Missing,       // a name on the way is not in the table
  NotAFolder,    // the path leads to a file
  Elsewhere,     // a reparse point on the way leads off the volume, or cannot be read
  TooManyLinks,  // links lead on to links more often than the system follows them
  LinkInPlace,   // the folder itself is a reparse point, which was not to be followed
  // The folder was found, but only the system's listing can say what it holds: it is, or holds,
  // a reparse point of a kind a filter driver may show otherwise (kFileListingIsTheSystems).
  FoundForTheSystem,
};

// The drive letter of an extended-length path on a drive (\\?\X:, \\?\X:\ or \\?\X:\data\sub),
// and the names below the drive's root ("data\sub"; empty for the root); false for any other path.
bool splitDrivePath(std::u16string_view path, char16_t& letter, std::u16string_view& below);

// splitDrivePath for a path that must lie on drive `letter`.
bool pathBelowDrive(std::u16string_view path, char16_t letter, std::u16string_view& below);

// Finds the folder at `below` (names separated by backslashes) on the volume of drive `letter`.
// With `noFollow`, a reparse point in the folder's own place is not followed.
TableLookup findTableFolder(const FileTable& table, char16_t letter, std::u16string_view below,
                            bool noFollow, std::uint32_t& folder);

FolderIdentity tableFolderIdentity(const FileTable& table, std::uint32_t folder);

// One folder's entries being read.
struct TableFolderReading {
  const FileTable* table = nullptr;
  std::uint32_t folder = 0;
  std::uint32_t next = 0;
  std::uint32_t end = 0;
  int dotsLeft = 0;
};

void startTableReading(TableFolderReading& reading, const FileTable& table, std::uint32_t folder);

// The next entry; false at the end.
bool readTableEntry(TableFolderReading& reading, FindEntry& entry);
