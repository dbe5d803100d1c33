#include "scan/folder_tree.h"

#include "paths/paths.h"

namespace {

// How many folders handOutFolder looks at when it searches ahead of the cursor, per folder the
// window allows: the search is cheap next to a listing, and gives up rather than walk far up a
// deep tree to find work the report will not want for a long time.
constexpr std::size_t kSearchStepsPerWindowFolder = 4;

bool isDone(FolderState state) {
  return state != FolderState::Waiting && state != FolderState::Listing;
}

// The first waiting folder after the cursor in depth-first order, and its parent: below the
// innermost folder from the subfolder it reports next, then further up, below each folder on the
// way from the subfolder after the one the cursor is in. Folders being listed are passed over;
// their subfolders are not known yet.
FolderNode* firstWaitingAfterCursor(FolderTree& tree, FolderNode*& parent) {
  std::size_t steps = kSearchStepsPerWindowFolder * tree.window;
  for (std::size_t level = tree.cursor.size(); level-- > 0;) {
    const FolderTree::Level& way = tree.cursor[level];
    tree.search.clear();
    tree.search.emplace_back(way.folder, way.next + (level + 1 == tree.cursor.size() ? 0 : 1));
    while (!tree.search.empty()) {
      if (steps-- == 0) return nullptr;
      FolderNode* folder = tree.search.back().first;
      std::size_t index = tree.search.back().second++;
      if (index >= folder->nextToList) {
        if (folder->nextToList < folder->subfolders.size()) {
          parent = folder;
          return folder->subfolders[folder->nextToList].get();
        }
        tree.search.pop_back();
      } else if (FolderNode* subfolder = folder->subfolders[index].get();
                 subfolder->state == FolderState::Listed) {
        tree.search.emplace_back(subfolder, 0);
      }
    }
  }
  return nullptr;
}

// The subfolder of the innermost folder on the cursor's way that the report waits for, when it
// waits to be handed out.
FolderNode* subfolderTheReportWaitsFor(FolderTree& tree, FolderNode*& parent) {
  const FolderTree::Level& inner = tree.cursor.back();
  if (inner.next >= inner.folder->subfolders.size() || inner.next != inner.folder->nextToList) {
    return nullptr;
  }
  parent = inner.folder;
  return inner.folder->subfolders[inner.next].get();
}

// The cursor is done with the innermost folder's next subfolder.
void passSubfolder(FolderTree& tree) {
  FolderTree::Level& inner = tree.cursor.back();
  inner.folder->subfolders[inner.next++].reset();
  --tree.handedOut;
}

}  // namespace

FolderName::~FolderName() {
  // Only the last holder of a name lets go of it, so one held here alone is safe to take apart.
  std::shared_ptr<FolderName> above = std::move(parent);
  while (above && above.use_count() == 1) above = std::move(above->parent);
}

FolderTree::FolderTree(const std::u16string& topPath, const ScanRules& scanRules,
                       std::size_t windowFolders)
    : rules(scanRules), window(windowFolders), top(std::make_unique<FolderNode>()) {
  top->name = std::make_shared<FolderName>(FolderName{topPath, nullptr, 0});
}

std::unique_ptr<FolderNode> makeSubfolder(FolderNode& folder, std::u16string name) {
  auto subfolder = std::make_unique<FolderNode>();
  subfolder->parent = &folder;
  subfolder->name = std::make_shared<FolderName>(
      FolderName{std::move(name), folder.name, folder.name->depth + 1});
  return subfolder;
}

FolderTree::~FolderTree() {
  std::vector<std::unique_ptr<FolderNode>> left;
  if (top) left.push_back(std::move(top));
  while (!left.empty()) {
    std::unique_ptr<FolderNode> folder = std::move(left.back());
    left.pop_back();
    for (auto& subfolder : folder->subfolders) {
      if (subfolder) left.push_back(std::move(subfolder));
    }
  }
}

HandedOut handOutFolder(FolderTree& tree) {
  if (tree.top && tree.top->state == FolderState::Waiting) {
    tree.top->state = FolderState::Listing;
    ++tree.handedOut;
    return {tree.top.get(), nullptr};
  }
  if (tree.cursor.empty()) return {};
  FolderNode* parent = nullptr;
  FolderNode* folder = subfolderTheReportWaitsFor(tree, parent);
  if (!folder && tree.waiting > 0 && tree.handedOut - tree.cursor.size() < tree.window) {
    folder = firstWaitingAfterCursor(tree, parent);
  }
  if (!folder) return {};
  folder->state = FolderState::Listing;
  ++parent->nextToList;
  --tree.waiting;
  ++tree.handedOut;
  return {folder, parent};
}

bool reportWaitsFor(const FolderTree& tree, const FolderNode* folder) {
  if (tree.cursor.empty()) return folder == tree.top.get();
  const FolderTree::Level& inner = tree.cursor.back();
  return inner.next < inner.folder->subfolders.size() &&
         inner.folder->subfolders[inner.next].get() == folder;
}

ListingOutcome finishListing(FolderTree& tree, const HandedOut& listed, FolderState outcome) {
  FolderNode& folder = *listed.folder;
  folder.state = outcome;
  if (&folder == tree.top.get()) tree.topListed = outcome == FolderState::Listed;
  if (outcome == FolderState::Listed) tree.waiting += folder.subfolders.size();
  ListingOutcome result;
  if (listed.parent) {
    result.lastOfParent = ++listed.parent->subfoldersListed == listed.parent->subfolders.size();
  }
  result.reportWaits = reportWaitsFor(tree, &folder);
  return result;
}

bool collectReportLines(FolderTree& tree, std::vector<ReportLine>& lines, std::size_t room) {
  bool moved = false;
  // Each pass appends one line at the most.
  while (!tree.finished && lines.size() < room) {
    if (tree.cursor.empty()) {
      FolderNode& top = *tree.top;
      if (!isDone(top.state)) return moved;
      moved = true;
      if (top.state == FolderState::Listed) {
        tree.cursor.push_back({&top, 0});
        continue;
      }
      if (top.state == FolderState::Failed) {
        lines.push_back({true, top.name, FolderTotals(), top.errorCode});
      }
      --tree.handedOut;
      tree.top.reset();
      tree.finished = true;
      return moved;
    }
    FolderTree::Level& inner = tree.cursor.back();
    if (inner.next < inner.folder->subfolders.size()) {
      FolderNode& subfolder = *inner.folder->subfolders[inner.next];
      if (!isDone(subfolder.state)) return moved;
      moved = true;
      if (subfolder.state == FolderState::Listed) {
        tree.cursor.push_back({&subfolder, 0});
        continue;
      }
      // A subfolder that cannot be listed adds nothing but its entry, already counted.
      if (subfolder.state == FolderState::Failed) {
        lines.push_back({true, subfolder.name, FolderTotals(), subfolder.errorCode});
      }
      passSubfolder(tree);
      continue;
    }
    // Every subfolder is passed: the folder is finished and hands its totals on.
    moved = true;
    const FolderTotals totals = inner.folder->totals;
    if (qualifiesForRow(totals, static_cast<std::int32_t>(tree.cursor.size()), tree.rules)) {
      lines.push_back({false, inner.folder->name, totals, 0});
    }
    tree.cursor.pop_back();
    if (tree.cursor.empty()) {
      --tree.handedOut;
      tree.top.reset();
      tree.topTotals = totals;
      tree.finished = true;
      return moved;
    }
    mergeTotals(tree.cursor.back().folder->totals, totals);
    passSubfolder(tree);
  }
  return moved;
}

FolderNamePtr folderTheReportWaitsFor(const FolderTree& tree) {
  if (tree.finished) return nullptr;
  if (tree.cursor.empty()) return tree.top->name;
  const FolderTree::Level& inner = tree.cursor.back();
  if (inner.next < inner.folder->subfolders.size()) {
    return inner.folder->subfolders[inner.next]->name;
  }
  return inner.folder->name;
}

const std::u16string& formPath(PathFormer& former, const FolderNamePtr& folder) {
  // The names from `folder` up to the first one the path already holds.
  std::vector<const FolderNamePtr*> below;
  const FolderNamePtr* name = &folder;
  while (*name && ((*name)->depth >= former.way.size() || former.way[(*name)->depth] != *name)) {
    below.push_back(name);
    name = &(*name)->parent;
  }
  std::size_t kept = *name ? (*name)->depth + 1 : 0;
  former.way.resize(kept);
  former.lengths.resize(kept);
  former.path.resize(kept > 0 ? former.lengths.back() : 0);
  for (auto step = below.rbegin(); step != below.rend(); ++step) {
    const FolderNamePtr& next = **step;
    if (next->parent) {
      appendPathName(former.path, next->name);
    } else {
      former.path = next->name;
    }
    former.way.push_back(next);
    former.lengths.push_back(former.path.size());
  }
  return former.path;
}
