// The Win32 platform layer on its own: listings of a folder made here, system messages, and the
// date and time texts of wine's default user locale (en-US, which ctest selects with LC_ALL=C).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "paths/paths.h"
#include "platform/clock.h"
#include "platform/listing.h"
#include "platform/messages.h"

namespace {

const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string temporaryFolder() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  std::u16string base(reinterpret_cast<const char16_t*>(buffer), length);
  return toExtendedPath(joinPath(base.c_str(), u"treemeter-platform-test").c_str());
}

void makeFile(const std::u16string& path, DWORD size) {
  HANDLE file = CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::vector<char> bytes(size, 'x');
  DWORD written = 0;
  WriteFile(file, bytes.data(), size, &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, size);
}

struct Listed {
  std::u16string name;
  std::uint32_t attributes;
  std::uint64_t size;
};

TEST(Win32Listing, YieldsDotEntriesFoldersByNameAndFileSizes) {
  std::u16string top = temporaryFolder();
  std::u16string sub = joinPath(top.c_str(), u"sub");
  std::u16string file = joinPath(top.c_str(), u"file");
  CreateDirectoryW(wide(top), nullptr);
  CreateDirectoryW(wide(sub), nullptr);
  makeFile(file, 5000);

  ListingContextPtr context = makeListingContext();
  FolderReaderPtr reader = makeFolderReader(*context);
  FindEntry entry;
  ASSERT_EQ(openFolder(*reader, kNoFolderHandle, top, false), 0u);
  std::vector<Listed> entries;
  while (readEntry(*reader, entry)) entries.push_back({entry.name, entry.attributes, entry.size});
  endReading(*reader, false);
  DeleteFileW(wide(file));
  RemoveDirectoryW(wide(sub));
  RemoveDirectoryW(wide(top));

  ASSERT_EQ(entries.size(), 4u);
  int folders = 0;
  for (const Listed& listed : entries) {
    if (listed.attributes & kFolderAttribute) {
      ++folders;
      EXPECT_TRUE(listed.name == u"." || listed.name == u".." || listed.name == u"sub");
    } else {
      // Only folders carry their names.
      EXPECT_EQ(listed.name, u"");
      EXPECT_EQ(listed.size, 5000u);
    }
  }
  EXPECT_EQ(folders, 3);
}

TEST(Win32Listing, MissingFolderFailsWithTheSystemCode) {
  std::u16string missing = joinPath(temporaryFolder().c_str(), u"missing");
  ListingContextPtr context = makeListingContext();
  FolderReaderPtr reader = makeFolderReader(*context);
  EXPECT_EQ(openFolder(*reader, kNoFolderHandle, missing, false),
            static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
}

TEST(Win32Messages, KeepTheirOwnLineEndAndNoneForUnknownCodes) {
  for (std::uint32_t code :
       {ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND, ERROR_CANT_RESOLVE_FILENAME}) {
    std::u16string message = systemMessageText(code);
    ASSERT_GT(message.size(), 2u) << code;
    EXPECT_EQ(message.substr(message.size() - 2), u"\r\n") << code;
  }
  EXPECT_EQ(systemMessageText(0x2000FFFFu), u"");
}

TEST(Win32Time, ShortDateAndDefaultTimeOfTheUserLocale) {
  SystemTime time;
  time.year = 2023;
  time.month = 11;
  time.dayOfWeek = 2;
  time.day = 14;
  time.hour = 22;
  time.minute = 13;
  time.second = 20;
  EXPECT_EQ(shortDateText(time), u"11/14/2023");
  EXPECT_EQ(timeOfDayText(time), u"10:13:20 PM");
  time.month = 13;  // no such date: the text cannot be formed
  EXPECT_EQ(shortDateText(time), u"");
}

TEST(Win32Time, LocalTimeOfAnInstant) {
  SystemTime local;
  // Noon keeps the date the same in every time zone.
  constexpr std::uint64_t kUnixEpoch = 11644473600ULL;  // 1970-01-01 in seconds after 1601
  const FileTime noon = (1699963200ULL + kUnixEpoch) * 10000000ULL;  // 2023-11-14 12:00 UTC
  ASSERT_TRUE(toLocalSystemTime(noon, local));
  EXPECT_EQ(local.year, 2023);
  EXPECT_EQ(local.month, 11);
  EXPECT_EQ(local.day, 14);
  EXPECT_EQ(local.dayOfWeek, 2);
  FileTime now = currentFileTime();
  EXPECT_TRUE(toLocalSystemTime(now, local));
  EXPECT_EQ(local.year, currentLocalYear());
}

}  // namespace
