#include "ntfs/table_listing.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ntfs/collation.h"

namespace {

// The system gives up on a path after this many links lead on to links.
constexpr int kMostLinksFollowed = 63;
// A reparse point that stands for another name (a junction, a link) has this bit in its tag;
// a folder with any other tag is an ordinary folder as far as its entries go.
constexpr std::uint32_t kNameSurrogateBit = 0x20000000;

using Names = std::vector<std::u16string>;

char16_t upperLetter(char16_t letter) {
  return letter >= u'a' && letter <= u'z' ? static_cast<char16_t>(letter - u'a' + u'A') : letter;
}

// Splits names separated by backslashes; a trailing backslash ends the path. False for an empty
// name within it.
bool splitNames(std::u16string_view path, Names& names) {
  while (!path.empty()) {
    std::size_t end = path.find(u'\\');
    std::u16string_view name = path.substr(0, end);
    if (name.empty()) return false;
    names.emplace_back(name);
    if (end == std::u16string_view::npos) break;
    path.remove_prefix(end + 1);
  }
  return true;
}

// Applies "." and ".." to the names, as the system does to a link's target.
Names resolveDots(const Names& names) {
  Names resolved;
  for (const std::u16string& name : names) {
    if (name == u".") continue;
    if (name == u"..") {
      if (!resolved.empty()) resolved.pop_back();
      continue;
    }
    resolved.push_back(name);
  }
  return resolved;
}

// The link of `folder` named `name`: the one of that very name, else one that differs only in
// case; null when there is none.
const TableLink* findLink(const FileTable& table, std::uint32_t folder, std::u16string_view name) {
  const TableLink* begin = table.links.data() + table.firstLink[folder];
  const TableLink* end = table.links.data() + table.firstLink[folder + 1];
  const char16_t* upcase = table.upcase.data();
  const TableLink* found =
      std::lower_bound(begin, end, name, [&](const TableLink& link, auto wanted) {
        return compareIgnoringCase(upcase, linkName(table, link), wanted) < 0;
      });
  const TableLink* sameIgnoringCase = nullptr;
  for (; found != end && compareIgnoringCase(upcase, linkName(table, *found), name) == 0; ++found) {
    if (linkName(table, *found) == name) return found;
    if (!sameIgnoringCase) sameIgnoringCase = found;
  }
  return sameIgnoringCase;
}

// The names a link's target stands for, from the root, followed by `rest`; false when the target
// lies off this volume.
bool targetNames(const ReparseFacts& facts, char16_t letter, const Names& linkFolder,
                 const Names& rest, Names& names) {
  std::u16string_view target = facts.target;
  Names joined;
  if (facts.relative && !target.empty() && target.front() != u'\\') {
    joined = linkFolder;
  } else if (facts.relative) {
    target.remove_prefix(1);
  } else {
    // An absolute target in the system's own form: \??\X: and the names below it.
    constexpr std::u16string_view kDevicePrefix = u"\\??\\";
    if (target.substr(0, kDevicePrefix.size()) != kDevicePrefix) return false;
    target.remove_prefix(kDevicePrefix.size());
    if (target.size() < 2 || target[1] != u':' || upperLetter(target[0]) != upperLetter(letter)) {
      return false;
    }
    target.remove_prefix(2);
    if (!target.empty() && target.front() == u'\\') target.remove_prefix(1);
  }
  if (!splitNames(target, joined)) return false;
  joined.insert(joined.end(), rest.begin(), rest.end());
  names = resolveDots(joined);
  return true;
}

}  // namespace

bool splitDrivePath(std::u16string_view path, char16_t& letter, std::u16string_view& below) {
  constexpr std::u16string_view kExtendedPrefix = u"\\\\?\\";
  if (path.substr(0, kExtendedPrefix.size()) != kExtendedPrefix) return false;
  path.remove_prefix(kExtendedPrefix.size());
  char16_t upper = path.empty() ? 0 : upperLetter(path[0]);
  if (path.size() < 2 || path[1] != u':' || upper < u'A' || upper > u'Z') return false;
  path.remove_prefix(2);
  if (!path.empty() && path.front() != u'\\') return false;
  if (!path.empty()) path.remove_prefix(1);
  letter = upper;
  below = path;
  return true;
}

bool pathBelowDrive(std::u16string_view path, char16_t letter, std::u16string_view& below) {
  char16_t found = 0;
  return splitDrivePath(path, found, below) && found == upperLetter(letter);
}

TableLookup findTableFolder(const FileTable& table, char16_t letter, std::u16string_view below,
                            bool noFollow, std::uint32_t& folder) {
  Names names;
  if (!splitNames(below, names)) return TableLookup::Missing;
  int linksFollowed = 0;
  folder = kRootFolderRecord;
  for (std::size_t at = 0; at < names.size();) {
    const TableLink* link = findLink(table, folder, names[at]);
    if (!link) return TableLookup::Missing;
    const TableFile& file = table.files[link->file];
    bool last = at + 1 == names.size();
    if (!(file.flags & kFileIsFolder)) return last ? TableLookup::NotAFolder : TableLookup::Missing;
    const TableReparsePoint* point =
        (file.flags & kFileIsReparsePoint) ? findReparsePoint(table, link->file) : nullptr;
    bool standsForAnother = point && (!point->readable || (point->facts.tag & kNameSurrogateBit));
    if (!standsForAnother) {
      folder = link->file;
      ++at;
      continue;
    }
    if (last && noFollow) return TableLookup::LinkInPlace;
    if (!point->readable || !point->facts.hasTarget) return TableLookup::Elsewhere;
    if (++linksFollowed > kMostLinksFollowed) return TableLookup::TooManyLinks;
    Names linkFolder(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(at));
    Names rest(names.begin() + static_cast<std::ptrdiff_t>(at) + 1, names.end());
    if (!targetNames(point->facts, letter, linkFolder, rest, names)) return TableLookup::Elsewhere;
    folder = kRootFolderRecord;
    at = 0;
  }
  return (table.files[folder].flags & kFileListingIsTheSystems) ? TableLookup::FoundForTheSystem
                                                                : TableLookup::Found;
}

FolderIdentity tableFolderIdentity(const FileTable& table, std::uint32_t folder) {
  return {volumeIdentity(table), fileIdentity(table, folder)};
}

void startTableReading(TableFolderReading& reading, const FileTable& table, std::uint32_t folder) {
  reading.table = &table;
  reading.folder = folder;
  reading.next = table.firstLink[folder];
  reading.end = table.firstLink[folder + 1];
  reading.dotsLeft = folder == kRootFolderRecord ? 0 : 2;
}

bool readTableEntry(TableFolderReading& reading, FindEntry& entry) {
  entry.identityKnown = false;
  if (reading.dotsLeft > 0) {
    entry.attributes = kFolderAttribute;
    entry.lastWrite = 0;
    entry.size = 0;
    entry.name = reading.dotsLeft-- == 2 ? u"." : u"..";
    return true;
  }
  if (reading.next == reading.end) return false;
  const FileTable& table = *reading.table;
  const TableLink& link = table.links[reading.next++];
  const TableFile& file = table.files[link.file];
  entry.attributes = file.attributes;
  entry.lastWrite = file.lastWrite;
  entry.size = file.size;
  if (!(file.attributes & kFolderAttribute)) {
    entry.name.clear();
    return true;
  }
  entry.name.assign(linkName(table, link));
  // A folder that is no reparse point leads to itself: its identity is known here. One that is
  // leads elsewhere, and is looked up by its path when needed.
  if (!(file.attributes & kReparsePointAttribute)) {
    entry.identity = tableFolderIdentity(table, link.file);
    entry.identityKnown = true;
  }
  return true;
}
