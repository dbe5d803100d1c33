// The scripted listing: every call is answered from the tree under the context's own lock; the
// scripted delays and waits for company happen without it, as a system's would.
#include "scan/scripted_listing.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "paths/paths.h"

struct ListingContext {
  ScriptedTree tree;
  std::mutex lock;
  // Waited on by openings that wait for company, until enough are in flight.
  std::condition_variable companyArrived;
  std::size_t companyToCome = 0;  // openings of folders that wait for company, not yet begun
  bool companyGivenUp = false;
  // Waited on by openings of held folders, until the test has released them often enough.
  std::condition_variable released;
  std::uint32_t releases = 0;
  std::map<FolderHandle, std::size_t> handles;  // open handles and the folders they hold
  FolderHandle nextHandle = 1;
  std::size_t inFlight = 0;
  std::vector<bool> listedOnce;
  ListingRecord record;
};

struct FolderReader {
  ListingContext* context = nullptr;
  std::size_t folder = 0;
  FolderHandle handle = kNoFolderHandle;
  std::size_t nextEntry = 0;
};

namespace {

constexpr std::uint32_t kNoSuchFolder = 2;
constexpr std::uint32_t kLoop = 40;
constexpr std::uint32_t kTooManyHandles = 24;

FolderIdentity identityOf(const ListingContext& context, std::size_t folder) {
  std::size_t sameAs = context.tree.folders[folder].sameAs;
  if (sameAs < context.tree.folders.size()) folder = sameAs;
  bool replaced = context.tree.folders[folder].replacedOnceListed && context.listedOnce[folder];
  return {replaced ? 2u : 1u, folder + 1};
}

// The folder `path` leads to from `folder`, name by name; false when there is none.
bool walk(const ScriptedTree& tree, std::size_t& folder, std::u16string_view path) {
  char16_t separator = nativePathStyle().separator;
  while (!path.empty()) {
    std::size_t end = std::min(path.find(separator), path.size());
    std::u16string_view name = path.substr(0, end);
    const auto& subfolders = tree.folders[folder].subfolders;
    auto found = std::find_if(subfolders.begin(), subfolders.end(),
                              [&](std::size_t index) { return tree.folders[index].name == name; });
    if (found == subfolders.end()) return false;
    folder = *found;
    path.remove_prefix(std::min(end + 1, path.size()));
  }
  return true;
}

// The folder at `path` from `base`, or from the top when there is no base.
bool resolve(ListingContext& context, FolderHandle base, const std::u16string& path,
             std::size_t& folder) {
  if (base != kNoFolderHandle) {
    folder = context.handles.at(base);
    return walk(context.tree, folder, path);
  }
  const std::u16string& top = context.tree.folders[0].name;
  if (path.compare(0, top.size(), top) != 0) return false;
  folder = 0;
  std::u16string_view rest = std::u16string_view(path).substr(top.size());
  if (!rest.empty() && rest[0] == nativePathStyle().separator) rest.remove_prefix(1);
  return walk(context.tree, folder, rest);
}

// Waits until the company wanted is in flight, or no more can come.
void waitForCompany(ListingContext& context, std::unique_lock<std::mutex>& lock) {
  if (context.companyToCome > 0) --context.companyToCome;
  context.companyArrived.notify_all();
  if (context.companyGivenUp) return;
  context.companyGivenUp = !context.companyArrived.wait_for(lock, context.tree.companyTimeout, [&] {
    return context.inFlight >= context.tree.companyWanted || context.companyToCome == 0;
  });
}

void waitForRelease(ListingContext& context, std::unique_lock<std::mutex>& lock,
                    const ScriptedFolder& script) {
  if (script.heldUntilRelease <= context.releases) return;
  if (context.tree.onHeld) context.tree.onHeld(script.name);
  context.released.wait(lock, [&] { return context.releases >= script.heldUntilRelease; });
}

void forgetHandle(ListingContext& context, FolderHandle handle) {
  context.handles.erase(handle);
}

}  // namespace

std::size_t addFolder(ScriptedTree& tree, std::size_t parent, std::u16string name,
                      std::uint32_t files) {
  ScriptedFolder folder;
  folder.name = std::move(name);
  folder.files = files;
  tree.folders.push_back(folder);
  std::size_t index = tree.folders.size() - 1;
  if (index > 0) tree.folders[parent].subfolders.push_back(index);
  return index;
}

ListingContextPtr makeScriptedListing(const ScriptedTree& tree) {
  ListingContextPtr context(new ListingContext, [](ListingContext* done) { delete done; });
  context->tree = tree;
  context->listedOnce.assign(tree.folders.size(), false);
  context->companyToCome = static_cast<std::size_t>(
      std::count_if(tree.folders.begin(), tree.folders.end(),
                    [](const ScriptedFolder& folder) { return folder.waitsForCompany; }));
  return context;
}

void prepareListing(ListingContext&, const std::u16string&) {}

ListingRecord recordOf(ListingContext& context) {
  std::lock_guard<std::mutex> lock(context.lock);
  ListingRecord record = context.record;
  record.handlesOpen = context.handles.size();

  return record;
}

void releaseHeldFolders(ListingContext& context) {
  std::lock_guard<std::mutex> lock(context.lock);
  ++context.releases;
  context.released.notify_all();
}

const PathStyle& nativePathStyle() {
  return kPosixPathStyle;
}

FolderReaderPtr makeFolderReader(ListingContext& context) {
  auto reader = new FolderReader;
  reader->context = &context;
  return FolderReaderPtr(reader, [](FolderReader* done) { delete done; });
}

std::size_t folderHandleBudget(const ListingContext& context) {
  return context.tree.handleBudget;
}

std::size_t longestPathOpenedAtOnce(const ListingContext&) {
  return 64;
}

std::uint32_t openFolder(FolderReader& reader, FolderHandle base, const std::u16string& path,
                         bool) {
  ListingContext& context = *reader.context;
  std::unique_lock<std::mutex> lock(context.lock);
  std::size_t folder = 0;
  if (!resolve(context, base, path, folder)) return kNoSuchFolder;
  const ScriptedFolder& script = context.tree.folders[folder];
  if (path.find(nativePathStyle().separator) != std::u16string::npos) {
    ++context.record.openedByLongWay;
  }
  ++context.inFlight;
  context.record.mostInFlight = std::max(context.record.mostInFlight, context.inFlight);
  if (script.waitsForCompany) waitForCompany(context, lock);
  waitForRelease(context, lock, script);
  if (script.delay.count() > 0) {
    lock.unlock();
    std::this_thread::sleep_for(script.delay);
    lock.lock();
  }
  if (script.openError != 0) {
    --context.inFlight;
    return script.openError;
  }
  ++context.record.foldersRead;
  reader.folder = folder;
  reader.handle = context.nextHandle++;
  reader.nextEntry = 0;
  context.handles[reader.handle] = folder;
  context.record.mostHandles = std::max(context.record.mostHandles, context.handles.size());
  return 0;
}

bool readOpenFolderIdentity(FolderReader& reader, FolderIdentity& identity) {
  std::lock_guard<std::mutex> lock(reader.context->lock);
  identity = identityOf(*reader.context, reader.folder);
  return true;
}

bool isInKernelFileSystem(FolderReader&) {
  return false;
}

bool readEntry(FolderReader& reader, FindEntry& entry) {
  const ListingContext& context = *reader.context;
  const ScriptedFolder& folder = context.tree.folders[reader.folder];
  std::size_t at = reader.nextEntry++;
  entry = FindEntry();
  if (at < 2) {
    entry.attributes = kFolderAttribute;
    entry.name = at == 0 ? u"." : u"..";
    return true;
  }
  at -= 2;
  if (at < folder.files) {
    entry.size = folder.fileSize;
    entry.lastWrite = 130000000000000000ULL + at;
    return true;
  }
  at -= folder.files;
  if (at >= folder.subfolders.size()) return false;
  std::size_t subfolder = folder.subfolders[at];
  const ScriptedFolder& script = context.tree.folders[subfolder];
  entry.attributes = kFolderAttribute | (script.reparsePoint ? kReparsePointAttribute : 0);
  entry.name = script.name;
  entry.identity = {1, subfolder + 1};
  entry.identityKnown = !script.reparsePoint;
  return true;
}

FolderHandle endReading(FolderReader& reader, bool keep) {
  ListingContext& context = *reader.context;
  std::lock_guard<std::mutex> lock(context.lock);
  --context.inFlight;
  context.listedOnce[reader.folder] = true;
  FolderHandle handle = reader.handle;
  reader.handle = kNoFolderHandle;
  if (keep) return handle;
  forgetHandle(context, handle);
  return kNoFolderHandle;
}

void closeFolderHandle(ListingContext& context, FolderHandle handle) {
  std::lock_guard<std::mutex> lock(context.lock);
  forgetHandle(context, handle);
}

bool lookUpFolderIdentity(ListingContext& context, const std::u16string& path,
                          FolderIdentity& identity) {
  std::this_thread::sleep_for(context.tree.lookupDelay);
  std::lock_guard<std::mutex> lock(context.lock);
  ++context.record.identitiesLookedUp;
  std::size_t folder = 0;
  if (!resolve(context, kNoFolderHandle, path, folder)) return false;
  identity = identityOf(context, folder);
  return true;
}

std::uint32_t loopErrorCode() {
  return kLoop;
}

std::uint32_t replacedFolderErrorCode() {
  return kNoSuchFolder;
}

bool isOutOfHandles(std::uint32_t errorCode) {
  return errorCode == kTooManyHandles;
}
