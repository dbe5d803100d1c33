// The scan's cache of open folders: which handle goes when the budget is spent.
#include "scan/open_folders.h"

#include <gtest/gtest.h>

#include "scan/folder_tree.h"

namespace {

// Reserves a handle and keeps it for `folder` as handle number `handle`.
void keepNew(OpenFolders& open, const FolderNode& folder, FolderHandle handle) {
  ASSERT_TRUE(reserveHandle(open));
  keepHandle(open, &folder, handle);
}

// The handle given up is the one idle longest: a folder just used is likely to be used again
// soon (its next subfolder), one left long ago only when the report comes back to it. One in use
// is never given up, and with every handle in use there is no room.
TEST(OpenFolders, GivesUpTheHandleIdleLongestAndNeverOneInUse) {
  FolderNode a, b, c;
  OpenFolders open;
  open.budget = 3;
  keepNew(open, a, 1);
  keepNew(open, b, 2);
  keepNew(open, c, 3);
  ASSERT_NE(useKept(open, &a), kNoFolderHandle);
  EXPECT_FALSE(letGo(open, &a));
  EXPECT_EQ(useKept(open, &b), 2);  // b in use: c is now the one idle longest
  ASSERT_TRUE(reserveHandle(open));
  EXPECT_EQ(open.toClose, std::vector<FolderHandle>{3});
  ASSERT_TRUE(reserveHandle(open));
  EXPECT_EQ(open.toClose, (std::vector<FolderHandle>{3, 1}));
  EXPECT_FALSE(reserveHandle(open));
  EXPECT_TRUE(isKept(open, &b));
  EXPECT_EQ(open.held, 3u);
}

// A folder in use when its subfolders are done goes when the last user lets it go.
TEST(OpenFolders, AFolderDoneWithGoesOnceNobodyUsesIt) {
  FolderNode a;
  OpenFolders open;
  open.budget = 2;
  keepNew(open, a, 7);
  useKept(open, &a);
  EXPECT_FALSE(doneWithSubfolders(open, &a));
  EXPECT_TRUE(isKept(open, &a));
  EXPECT_TRUE(letGo(open, &a));
  EXPECT_FALSE(isKept(open, &a));
  EXPECT_EQ(open.toClose, std::vector<FolderHandle>{7});
  EXPECT_EQ(open.held, 0u);
}

}  // namespace
