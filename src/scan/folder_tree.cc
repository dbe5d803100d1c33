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
FolderNode* folderTheReportWaitsFor(FolderTree& tree, FolderNode*& parent) {
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

FolderTree::FolderTree(const std::u16string& topPath, const ScanRules& scanRules,
                       std::size_t windowFolders)
    : rules(scanRules), window(windowFolders), top(std::make_unique<FolderNode>()), path(topPath) {
  top->name = topPath;
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
  FolderNode* folder = folderTheReportWaitsFor(tree, parent);
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

ListingOutcome finishListing(FolderTree& tree, const HandedOut& listed, FolderState outcome) {
  FolderNode& folder = *listed.folder;
  folder.state = outcome;
  if (outcome == FolderState::Listed) tree.waiting += folder.subfolders.size();
  ListingOutcome result;
  if (listed.parent) {
    result.lastOfParent = ++listed.parent->subfoldersListed == listed.parent->subfolders.size();
  }
  if (tree.cursor.empty()) {
    result.reportWaits = &folder == tree.top.get();
  } else {
    const FolderTree::Level& inner = tree.cursor.back();
    result.reportWaits = inner.next < inner.folder->subfolders.size() &&
                         inner.folder->subfolders[inner.next].get() == &folder;
  }
  return result;
}

bool collectReportLines(FolderTree& tree, std::vector<ReportLine>& lines) {
  bool moved = false;
  while (!tree.finished) {
    if (tree.cursor.empty()) {
      FolderNode& top = *tree.top;
      if (!isDone(top.state)) return moved;
      moved = true;
      if (top.state == FolderState::Listed) {
        tree.topListed = true;
        tree.cursor.push_back({&top, 0, tree.path.size()});
        continue;
      }
      if (top.state == FolderState::Failed) {
        lines.push_back({true, tree.path, FolderTotals(), top.errorCode});
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
      appendPathName(tree.path, subfolder.name);
      if (subfolder.state == FolderState::Listed) {
        tree.cursor.push_back({&subfolder, 0, tree.path.size()});
        continue;
      }
      // A subfolder that cannot be listed adds nothing but its entry, already counted.
      if (subfolder.state == FolderState::Failed) {
        lines.push_back({true, tree.path, FolderTotals(), subfolder.errorCode});
      }
      tree.path.resize(inner.pathLength);
      passSubfolder(tree);
      continue;
    }
    // Every subfolder is passed: the folder is finished and hands its totals on.
    moved = true;
    const FolderTotals totals = inner.folder->totals;
    if (qualifiesForRow(totals, static_cast<std::int32_t>(tree.cursor.size()), tree.rules)) {
      lines.push_back({false, tree.path, totals, 0});
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
    tree.path.resize(tree.cursor.back().pathLength);
    passSubfolder(tree);
  }
  return moved;
}

std::u16string pathTheReportWaitsFor(const FolderTree& tree) {
  std::u16string path = tree.path;
  if (!tree.cursor.empty()) {
    const FolderTree::Level& inner = tree.cursor.back();
    if (inner.next < inner.folder->subfolders.size()) {
      appendPathName(path, inner.folder->subfolders[inner.next]->name);
    }
  }
  return path;
}
