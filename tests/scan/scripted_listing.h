// A folder listing that reads a tree held in memory, linked in place of the platform's, so that the
// scan's threads and the run can be tested in-process: each folder's entries, failures and delays
// are scripted, a test can hold the scan at chosen folders until it releases them, and the
// listing records what the scan asked of it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/listing.h"

struct ScriptedFolder {
  std::u16string name;
  std::vector<std::size_t> subfolders;  // indices in the tree, in listing order
  std::uint32_t files = 0;              // of `fileSize` bytes each
  std::uint64_t fileSize = 1000;
  std::uint32_t openError = 0;         // the system's code its opening fails with
  std::chrono::microseconds delay{0};  // spent off the processor in each opening
  bool waitsForCompany = false;        // its opening waits for others in flight (see below)
  bool replacedOnceListed = false;     // once read, another folder stands in its place
  // Listed as a reparse point whose entry tells no identity, as on Windows: the scan looks its
  // identity up by path. `sameAs` makes it lead where that folder is (a loop when it is above).
  bool reparsePoint = false;
  std::size_t sameAs = static_cast<std::size_t>(-1);
  // Its opening waits until the test has released held folders this many times (0: it never
  // waits), so that the test decides when the scan gets past it.
  std::uint32_t heldUntilRelease = 0;
};

struct ScriptedTree {
  std::vector<ScriptedFolder> folders;  // the top first
  std::size_t handleBudget = 64;
  // An opening of a folder that waits for company waits until this many openings are in flight
  // at once, or until every such folder's opening has begun, or for `companyTimeout`.
  // Only a scan that never keeps so many in flight waits that long, and then once: the others
  // give up waiting at once.
  std::size_t companyWanted = 0;
  std::chrono::milliseconds companyTimeout{10000};
  // Each identity lookup takes this long, without the listing's lock, as the system's does.
  std::chrono::microseconds lookupDelay{0};
  // Told the name of each held folder whose opening begins to wait for its release.
  std::function<void(const std::u16string&)> onHeld;
};

// Adds a folder under `parent` (or the top, for the first) and returns its index.
std::size_t addFolder(ScriptedTree& tree, std::size_t parent, std::u16string name,
                      std::uint32_t files = 0);

// What the scan asked of the listing.
struct ListingRecord {
  std::size_t foldersRead = 0;      // readings begun
  std::size_t mostInFlight = 0;     // openings and readings at once
  std::size_t mostHandles = 0;      // handles open at once, kept ones included
  std::size_t openedByLongWay = 0;  // openings of more than one name below their base
  std::size_t handlesOpen = 0;      // now
  std::size_t identitiesLookedUp = 0;
};

ListingContextPtr makeScriptedListing(const ScriptedTree& tree);
ListingRecord recordOf(ListingContext& context);

// Releases the held folders once more: those held until this many releases go on.
void releaseHeldFolders(ListingContext& context);
