#include "scan/coordinator.h"

#include <algorithm>
#include <utility>

#include "paths/paths.h"

namespace {

// Jobs out at once, beyond those being listed: enough queued for this long of listing, so that
// a lister done with one takes the next at once and the coordinator hears of results many at a
// time (thousands of quick listings a second on a warm cache), but no more than this many for each
// listing allowed in flight: on a slow storage each job queued makes the folders found after it
// wait longer, and a deep tree is found one level at a time.
constexpr std::chrono::milliseconds kQueuedListingTime(5);
constexpr std::size_t kMostQueuedPerListing = 64;
// How much of the mean listing time the newest listing makes.
constexpr double kNewestListingWeight = 0.05;

// A folder replaced by a link since it was listed is not followed: a scan that follows no links
// would otherwise leave the tree.
bool mayNotBeALink(const FolderNode& folder) {
  return folder.parent && !folder.throughReparsePoint;
}

// The parts of the way down to `folder` from `from` (null: from the top's whole path), each a
// path the platform opens at once: the names below `from` joined while they fit in `longest`.
std::vector<std::u16string> partsOfWay(const FolderNode& folder, const FolderNode* from,
                                       std::size_t longest) {
  std::vector<const FolderNode*> below;
  for (const FolderNode* step = &folder; step != from; step = step->parent) below.push_back(step);
  std::vector<std::u16string> parts(1);
  for (auto step = below.rbegin(); step != below.rend(); ++step) {
    const std::u16string& name = (*step)->name->name;
    if (!parts.back().empty() && parts.back().size() + 1 + name.size() > longest) {
      parts.emplace_back();
    }
    if (parts.back().empty()) {
      parts.back() = name;
    } else {
      appendPathName(parts.back(), name);
    }
  }
  return parts;
}

// The folders on the way from the top down to `folder`, `folder` last.
std::vector<FolderNode*> wayFromTheTop(FolderNode& folder) {
  std::vector<FolderNode*> way;
  for (FolderNode* step = &folder; step; step = step->parent) way.push_back(step);
  std::reverse(way.begin(), way.end());
  return way;
}

// The whole path of a folder, in the form the platform lists.
std::u16string wholePath(const FolderNode& folder) {
  std::u16string path;
  for (const std::u16string& part : partsOfWay(folder, nullptr, static_cast<std::size_t>(-1))) {
    path += part;
  }
  return path;
}

// Whether the reparse point `folder`, whose identity is known, leads back to a folder on its way
// from the top.
bool leadsBackUp(const FolderNode& folder) {
  for (const FolderNode* above = folder.parent; above; above = above->parent) {
    if (above->identityState == IdentityState::Known && above->identity == folder.identity) {
      return true;
    }
  }
  return false;
}

std::size_t mostJobsOut(const Coordinator& coordinator) {
  double queuedPerListing = std::chrono::duration<double>(kQueuedListingTime).count() /
                            std::max(coordinator.meanListingSeconds, 1e-9);
  auto queued = static_cast<std::size_t>(
      std::clamp(queuedPerListing, 1.0, static_cast<double>(kMostQueuedPerListing)));
  return std::min(coordinator.count.limit * (1 + queued), mostListingsAtOnce(coordinator.open));
}

// Records a folder's outcome, and lets go of what its folder kept for it once it was the last.
void recordOutcome(Coordinator& coordinator, const HandedOut& handed, FolderState outcome) {
  ++coordinator.progress.folders;
  ListingOutcome finished = finishListing(coordinator.tree, handed, outcome);
  if (finished.lastOfParent) doneWithSubfolders(coordinator.open, handed.parent);
}

// What a folder reached through a reparse point waits for before it is listed: the identities on
// its way that are being looked up. Starts the lookup of those not looked up yet, into `job`.
enum class Identities { kKnown, kLookingUp, kLookUpNow };

Identities identitiesFor(Coordinator& coordinator, FolderNode& folder, ListingJob& job) {
  if (!folder.throughReparsePoint) return Identities::kKnown;
  bool lookingUp = false;
  std::vector<FolderNode*> lookUp;
  for (FolderNode* step : wayFromTheTop(folder)) {
    if (step->identityState == IdentityState::LookingUp) lookingUp = true;
    if (step->identityState == IdentityState::NotLookedUp) lookUp.push_back(step);
  }
  if (lookUp.empty()) return lookingUp ? Identities::kLookingUp : Identities::kKnown;
  job = ListingJob();
  job.kind = ListingJob::Kind::kLookUpIdentities;
  job.folder = &folder;
  for (FolderNode* step : lookUp) {
    step->identityState = IdentityState::LookingUp;
    job.paths.push_back(wholePath(*step));
  }
  coordinator.lookingUp[&folder] = std::move(lookUp);
  return Identities::kLookUpNow;
}

// Reserves `count` handles, giving up idle ones as needed; past the budget only when no job is out
// to release one. False, with none reserved, when they cannot be had now.
bool reserveHandles(Coordinator& coordinator, std::size_t count) {
  for (std::size_t reserved = 0; reserved < count; ++reserved) {
    if (reserveHandle(coordinator.open)) continue;
    if (coordinator.jobsOut > 0) {
      for (; reserved > 0; --reserved) releaseHandle(coordinator.open);
      return false;
    }
    ++coordinator.open.held;
  }
  return true;
}

// Makes the listing job for a folder whose identities are known, choosing its way and reserving
// its handles; false when the handles cannot be had now.
bool makeListingJob(Coordinator& coordinator, const HandedOut& handed, ListingJob& job) {
  FolderNode& folder = *handed.folder;
  job = ListingJob();
  job.folder = &folder;
  FolderWay& way = job.way;
  const FolderNode* from = nullptr;
  bool keeps = keepsFolders(coordinator.open);
  if (keeps && folder.parent) {
    way.base = useKept(coordinator.open, folder.parent);
    if (way.base != kNoFolderHandle) {
      from = folder.parent;
    } else {
      way.reopensParent = true;
      for (from = folder.parent->parent; from && !isKept(coordinator.open, from);) {
        from = from->parent;
      }
      if (from) way.base = useKept(coordinator.open, from);
    }
  }
  // The folder's own; and, on a way that opens the parent again, the part it came from while it
  // opens the next, and in the end the parent.
  std::size_t handles = keeps ? (way.reopensParent ? 2 : 1) : 0;
  if (!reserveHandles(coordinator, handles)) {
    if (from) letGo(coordinator.open, from);
    return false;
  }
  std::size_t longest = coordinator.limits.longestPathOpenedAtOnce;
  if (way.reopensParent) {
    const FolderNode& parent = *folder.parent;
    way.parts = partsOfWay(parent, from, longest);
    way.parts.push_back(folder.name->name);
    way.parentNoFollow = mayNotBeALink(parent);
    way.parentIdentityKnown = parent.identityState == IdentityState::Known;
    way.parentIdentity = parent.identity;
  } else if (from) {
    way.parts = {folder.name->name};
  } else {
    way.parts = partsOfWay(folder, nullptr, longest);
  }
  way.noFollow = mayNotBeALink(folder);
  job.isTop = !folder.parent;
  job.throughReparsePoint = folder.throughReparsePoint;
  job.identityKnown = folder.identityState == IdentityState::Known;
  job.identity = folder.identity;
  job.keepsOpen = keeps;
  job.holds = {handed.parent, from, handles};
  ++coordinator.jobsOut;
  return true;
}

enum class JobFor { kJob, kNone, kNoHandles };

// A folder handed out from the tree, made into a job where it can be now: its identities looked
// up first where it is reached through a reparse point, a loop ruled out, its handles reserved.
JobFor jobFor(Coordinator& coordinator, const HandedOut& handed, ListingJob& job) {
  switch (identitiesFor(coordinator, *handed.folder, job)) {
    case Identities::kLookUpNow:
      coordinator.waitingForIdentities.push_back(handed);
      ++coordinator.jobsOut;
      return JobFor::kJob;
    case Identities::kLookingUp:
      coordinator.waitingForIdentities.push_back(handed);
      return JobFor::kNone;
    case Identities::kKnown:
      break;
  }
  FolderNode& folder = *handed.folder;
  if (folder.throughReparsePoint && folder.identityState == IdentityState::Known &&
      leadsBackUp(folder)) {
    folder.errorCode = coordinator.limits.loopErrorCode;
    recordOutcome(coordinator, handed, FolderState::Failed);
    return JobFor::kNone;
  }
  if (makeListingJob(coordinator, handed, job)) return JobFor::kJob;
  coordinator.waitingForHandles.push_front(handed);
  return JobFor::kNoHandles;
}

// The next folder that may become a job: one whose identities came, one that waited for handles
// while a job was out to release them, or the next from the tree.
bool nextFolder(Coordinator& coordinator, HandedOut& handed) {
  if (!coordinator.readyToList.empty()) {
    handed = coordinator.readyToList.front();
    coordinator.readyToList.pop_front();
    return true;
  }
  if (!coordinator.waitingForHandles.empty()) {
    handed = coordinator.waitingForHandles.front();
    coordinator.waitingForHandles.pop_front();
    return true;
  }
  handed = handOutFolder(coordinator.tree);
  return handed.folder != nullptr;
}

void takeIdentities(Coordinator& coordinator, const ListingResult& result) {
  --coordinator.jobsOut;
  auto looked = coordinator.lookingUp.find(result.folder);
  std::vector<FolderNode*>& steps = looked->second;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    bool found = i < result.identityFound.size() && result.identityFound[i];
    steps[i]->identity = found ? result.identities[i] : FolderIdentity();
    steps[i]->identityState = found ? IdentityState::Known : IdentityState::Unavailable;
  }
  coordinator.lookingUp.erase(looked);
  // Every folder that waited for these may go on, or wait for others still being looked up.
  std::vector<HandedOut> waiting = std::move(coordinator.waitingForIdentities);
  coordinator.waitingForIdentities.clear();
  for (const HandedOut& handed : waiting) {
    bool stillWaits = false;
    for (FolderNode* step : wayFromTheTop(*handed.folder)) {
      stillWaits = stillWaits || step->identityState == IdentityState::LookingUp;
    }
    if (stillWaits) {
      coordinator.waitingForIdentities.push_back(handed);
    } else {
      coordinator.readyToList.push_back(handed);
    }
  }
}

// Lets go of what a job held, and keeps what its result brought back open.
void settleHandles(Coordinator& coordinator, const JobHolds& out, ListingResult& result) {
  OpenFolders& open = coordinator.open;
  for (std::size_t i = 0; i < out.handlesReserved; ++i) releaseHandle(open);
  if (result.kept != kNoFolderHandle) {
    ++open.held;
    keepHandle(open, result.folder, result.kept);
  }
  if (result.reopenedParent != kNoFolderHandle) {
    if (isKept(open, out.parent)) {
      // Another job kept it again meanwhile: one handle is enough.
      open.toClose.push_back(result.reopenedParent);
    } else {
      ++open.held;
      keepHandle(open, out.parent, result.reopenedParent);
    }
  }
  if (out.from) letGo(open, out.from);
}

// A listing that failed for want of handles, in the process or the system, is listed again once
// room is made: the budget shrinks to what is held, and an idle handle goes, or a job out will
// release one. True when it will be.
bool listAgainForRoom(Coordinator& coordinator, const HandedOut& handed) {
  if (!makeRoomAfterShortage(coordinator.open) && coordinator.jobsOut == 0) return false;
  coordinator.count.most = std::max<std::size_t>(
      1, std::min(coordinator.count.most, mostListingsAtOnce(coordinator.open)));
  coordinator.count.limit = std::min(coordinator.count.limit, coordinator.count.most);
  coordinator.waitingForHandles.push_front(handed);
  return true;
}

// Tells the count what a listing took. A listing begun before the count's limit reached the
// listers tells nothing of that limit; the first listing's span is its own time.
void countListingTime(Coordinator& coordinator, const ListingResult& result) {
  auto elapsed = coordinator.lastListingAt == std::chrono::steady_clock::time_point()
                     ? result.took
                     : std::max(result.endedAt - coordinator.lastListingAt,
                                std::chrono::steady_clock::duration::zero());
  coordinator.lastListingAt = std::max(coordinator.lastListingAt, result.endedAt);
  double took = std::chrono::duration<double>(result.took).count();
  coordinator.meanListingSeconds += kNewestListingWeight * (took - coordinator.meanListingSeconds);
  if (result.endedAt - result.took < coordinator.limitAppliedAt) return;
  countListing(coordinator.count, elapsed, result.took, result.own.entryCount);
}

void takeListing(Coordinator& coordinator, ListingResult& result) {
  FolderNode& folder = *result.folder;
  --coordinator.jobsOut;
  settleHandles(coordinator, result.holds, result);
  HandedOut handed = {&folder, result.holds.parent};
  if (result.outOfHandles && listAgainForRoom(coordinator, handed)) return;
  if (result.topIdentityKnown) {
    folder.identity = result.topIdentity;
    folder.identityState = IdentityState::Known;
  }
  folder.totals = result.own;
  folder.errorCode = result.errorCode;
  for (FoundSubfolder& found : result.subfolders) {
    folder.subfolders.push_back(makeSubfolder(folder, std::move(found.name)));
    FolderNode& subfolder = *folder.subfolders.back();
    subfolder.throughReparsePoint = found.throughReparsePoint;
    subfolder.identity = found.identity;
    subfolder.identityState =
        found.identityKnown ? IdentityState::Known : IdentityState::NotLookedUp;
  }
  ScanProgress& progress = coordinator.progress;
  progress.entries += result.own.entryCount;
  FolderTotals counted;
  counted.totalBytes = progress.totalBytes;
  mergeTotals(counted, result.own);
  progress.totalBytes = counted.totalBytes;
  countListingTime(coordinator, result);
  recordOutcome(coordinator, handed, result.outcome);
}

}  // namespace

Coordinator::Coordinator(const ScanRules& rules, const std::u16string& topPath, std::size_t window,
                         const ListingLimits& listingLimits, std::size_t listers,
                         std::size_t processors)
    : limits(listingLimits), tree(topPath, rules, window) {
  open.budget = limits.handleBudget;
  count = countListers(listers, processors, mostListingsAtOnce(open));
}

bool handOutJob(Coordinator& coordinator, ListingJob& job) {
  HandedOut handed;
  while (coordinator.jobsOut < mostJobsOut(coordinator) && nextFolder(coordinator, handed)) {
    JobFor made = jobFor(coordinator, handed, job);
    // Handles are what every folder needs: the others wait with this one for a job to come back.
    if (made == JobFor::kNoHandles) return false;
    if (made == JobFor::kNone) continue;
    job.urgent = reportWaitsFor(coordinator.tree, handed.folder);
    job.toClose = std::move(coordinator.open.toClose);
    coordinator.open.toClose.clear();
    return true;
  }
  return false;
}

void takeResult(Coordinator& coordinator, ListingResult& result) {
  if (result.kind == ListingJob::Kind::kLookUpIdentities) {
    takeIdentities(coordinator, result);
  } else {
    takeListing(coordinator, result);
  }
}

std::vector<FolderHandle> takeEveryHandle(Coordinator& coordinator) {
  std::vector<FolderHandle> handles = std::move(coordinator.open.toClose);
  coordinator.open.toClose.clear();
  for (const auto& kept : coordinator.open.kept) handles.push_back(kept.second.handle);
  coordinator.open.kept.clear();
  coordinator.open.idle.clear();
  coordinator.open.held = 0;
  return handles;
}
