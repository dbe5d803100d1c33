#include "ntfs/image_listing.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "ntfs/table_listing.h"
#include "paths/paths.h"
#include "platform/volume.h"

// The image's table, read once and then only read from; null where no image was given.
struct ListingContext {
  std::unique_ptr<FileTable> table;
};

struct FolderReader {
  ListingContext* context = nullptr;
  TableFolderReading reading;
};

namespace {

// Finds the folder at `path`; 0, or the POSIX code for why it is not there.
std::uint32_t findImageFolder(const ListingContext& context, const std::u16string& path,
                              bool noFollow, std::uint32_t& folder) {
  std::u16string_view below;
  if (!context.table || !pathBelowDrive(path, kImageDriveLetter, below)) return ENOENT;
  switch (findTableFolder(*context.table, kImageDriveLetter, below, noFollow, folder)) {
    case TableLookup::Found:
    // There is no system here to list it: the table's entries are the closest to what
    // Treemeter.exe would be shown.
    case TableLookup::FoundForTheSystem:
      return 0;
    case TableLookup::NotAFolder:
      return ENOTDIR;
    case TableLookup::TooManyLinks:
      return ELOOP;
    case TableLookup::LinkInPlace:
      return replacedFolderErrorCode();
    case TableLookup::Missing:
    case TableLookup::Elsewhere:
      break;
  }
  // A folder the image does not hold, or one on another volume, which an image cannot reach.
  return ENOENT;
}

}  // namespace

ListingContextPtr makeImageListingContext(const std::u16string& path, std::string& doubt) {
  ListingContextPtr context(new ListingContext, [](ListingContext* done) { delete done; });
  std::uint32_t error = 0;
  VolumeFilePtr volume = openVolumeFile(path, error);
  if (!volume) {
    doubt = "the image cannot be opened: " + std::string(std::strerror(static_cast<int>(error)));
    return ListingContextPtr(nullptr, [](ListingContext*) {});
  }
  context->table = std::make_unique<FileTable>();
  if (!loadFileTable(*volume, *context->table, doubt)) {
    return ListingContextPtr(nullptr, [](ListingContext*) {});
  }
  return context;
}

const PathStyle& nativePathStyle() {
  return kWindowsPathStyle;
}

// The run's default listing, where the image's stands in: no image, no folder.
ListingContextPtr makeListingContext() {
  return ListingContextPtr(new ListingContext, [](ListingContext* done) { delete done; });
}

void prepareListing(ListingContext&, const std::u16string&) {}

FolderReaderPtr makeFolderReader(ListingContext& context) {
  auto reader = new FolderReader;
  reader->context = &context;
  return FolderReaderPtr(reader, [](FolderReader* done) { delete done; });
}

std::size_t folderHandleBudget(const ListingContext&) {
  return 0;
}

std::size_t longestPathOpenedAtOnce(const ListingContext&) {
  return std::numeric_limits<std::size_t>::max();
}

std::uint32_t openFolder(FolderReader& reader, FolderHandle, const std::u16string& path,
                         bool noFollow) {
  std::uint32_t folder = 0;
  std::uint32_t error = findImageFolder(*reader.context, path, noFollow, folder);
  if (error == 0) startTableReading(reader.reading, *reader.context->table, folder);
  return error;
}

bool readOpenFolderIdentity(FolderReader& reader, FolderIdentity& identity) {
  identity = tableFolderIdentity(*reader.context->table, reader.reading.folder);
  return true;
}

bool isInKernelFileSystem(FolderReader&) {
  return false;
}

bool readEntry(FolderReader& reader, FindEntry& entry) {
  return readTableEntry(reader.reading, entry);
}

FolderHandle endReading(FolderReader&, bool) {
  return kNoFolderHandle;
}

void closeFolderHandle(ListingContext&, FolderHandle) {}

bool lookUpFolderIdentity(ListingContext& context, const std::u16string& path,
                          FolderIdentity& identity) {
  std::uint32_t folder = 0;
  if (findImageFolder(context, path, false, folder) != 0) return false;
  identity = tableFolderIdentity(*context.table, folder);
  return true;
}

std::uint32_t loopErrorCode() {
  return ELOOP;
}

std::uint32_t replacedFolderErrorCode() {
  return ENOENT;
}

bool isOutOfHandles(std::uint32_t) {
  return false;
}
