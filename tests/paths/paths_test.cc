// The path forms are pure text, so the Windows forms are checked on every platform.
#include "paths/paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TextCase {
  const char16_t* input;
  const char16_t* expected;
};

struct JoinCase {
  const char16_t* folder;
  const char16_t* name;  // null for no name
  const char16_t* expected;
};

// The test texts are ASCII, so failure messages can show them unit for unit.
std::string shown(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

TEST(WindowsExtendedPath, EveryArgumentFormBecomesItsExtendedLengthPath) {
  const TextCase cases[] = {
      {uR"(C:\Windows)", uR"(\\?\C:\Windows)"},
      {uR"(C:\Windows\)", uR"(\\?\C:\Windows\)"},
      {uR"("C:\Windows")", uR"(\\?\C:\Windows)"},
      {uR"(C:\Windows")", uR"(\\?\C:\Windows)"},
      {uR"("C:\Windows)", uR"(\\?\C:\Windows)"},
      {uR"(C:\\Windows)", uR"(\\?\C:\Windows)"},
      {uR"(C:\\\Windows)", uR"(\\?\C:\\Windows)"},
      {uR"(C:\Windows\\)", uR"(\\?\C:\Windows\)"},
      {uR"(\\server\share\dir)", uR"(\\?\UNC\server\share\dir)"},
      {uR"(\\server\\share)", uR"(\\?\UNC\server\share)"},
      {uR"(\\\server\share)", uR"(\\?\UNC\server\share)"},
      {uR"(\\?\C:\Windows)", uR"(\\?\C:\Windows)"},
      {uR"(\\?\C:\\Windows)", uR"(\\?\C:\Windows)"},
      {uR"(\\?\UNC\server\share)", uR"(\\?\UNC\server\share)"},
      {uR"(\\.\C:\dir)", uR"(\\?\UNC\.\C:\dir)"},
      {u"Windows", uR"(\\?\Windows)"},
      {uR"(..\dir)", uR"(\\?\..\dir)"},
      {uR"(\dir)", uR"(\\?\\dir)"},
      {u"C:", uR"(\\?\C:)"},
      {u"C:/Windows", uR"(\\?\C:/Windows)"},
      {u"", uR"(\\?\)"},
      {u"\"", uR"(\\?\)"},
      {u"\"\"", uR"(\\?\)"},
      // Only one quote goes at each end.
      {uR"(""C:\x"")", uR"(\\?\"C:\x")"},
      // A prefix anywhere, not only at the start, takes the branch that replaces the first
      // character; the collapse then leaves no prefix, so one is added.
      {uR"(C:\dir\\?\x)", uR"(\\?\\:\dir\?\x)"},
      {uR"(\\\\server\share)", uR"(\\?\UNC\\server\share)"},
      // Letter case is kept as typed.
      {uR"(c:\WinDows)", uR"(\\?\c:\WinDows)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toExtendedPath(c.input, kWindowsPathStyle), c.expected) << shown(c.input);
  }
}

TEST(WindowsDisplayPath, PrefixesAreRemovedAndNetworkPathsRegainTheirBackslashes) {
  const TextCase cases[] = {
      {uR"(\\?\C:\Windows)", uR"(C:\Windows)"},
      {uR"(\\?\UNC\server\share\dir)", uR"(\\server\share\dir)"},
      {uR"(\\?\UNC\)", uR"(\\)"},
      {uR"(\\?\UNC)", u"UNC"},
      {uR"(\\?\unc\server\share)", uR"(unc\server\share)"},
      {uR"(\\?\)", u""},
      {uR"(C:\Windows)", uR"(C:\Windows)"},
      {uR"(\\server\share)", uR"(\\server\share)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toDisplayPath(c.input, kWindowsPathStyle), c.expected) << shown(c.input);
  }
  EXPECT_EQ(toDisplayPath(nullptr, kWindowsPathStyle), u"");
}

TEST(WindowsDisplayPath, ArgumentsShowAsTheFolderTheUserMeant) {
  const TextCase cases[] = {
      {uR"(C:\Windows)", uR"(C:\Windows)"},
      {uR"("C:\Windows")", uR"(C:\Windows)"},
      {uR"(C:\\Windows)", uR"(C:\Windows)"},
      {uR"(\\server\share\dir)", uR"(\\server\share\dir)"},
      {u"", u""},
      {u"\"", u""},
      {u"\"\"", u""},
  };
  for (const auto& c : cases) {
    std::u16string extended = toExtendedPath(c.input, kWindowsPathStyle);
    EXPECT_EQ(toDisplayPath(extended.c_str(), kWindowsPathStyle), c.expected) << shown(c.input);
  }
}

TEST(WindowsJoinPath, ExactlyOneBackslashStandsBetweenFolderAndName) {
  const JoinCase cases[] = {
      {uR"(\\?\C:\Windows)", u"*", uR"(\\?\C:\Windows\*)"},
      {uR"(\\?\C:\Windows\)", u"*", uR"(\\?\C:\Windows\*)"},
      {uR"(\\?\C:)", u"*", uR"(\\?\C:\*)"},
      {uR"(\\?\C:\Windows)", u"System32", uR"(\\?\C:\Windows\System32)"},
      {uR"(C:\dir)", uR"(\sub)", uR"(C:\dir\sub)"},
      {uR"(C:\dir\)", uR"(\sub)", uR"(C:\dir\sub)"},
      {uR"(C:\dir\)", uR"(\\sub)", uR"(C:\dir\\sub)"},
      {uR"(C:\dir\\)", u"sub", uR"(C:\dir\\sub)"},
      {u"", u"sub", u"sub"},
      {u"", uR"(\sub)", uR"(\sub)"},
      {uR"(C:\dir)", u"", uR"(C:\dir\)"},
      {uR"(C:\dir\)", u"", uR"(C:\dir\)"},
      {uR"(C:\dir)", nullptr, uR"(C:\dir)"},
      // "/" is an ordinary character, not a separator.
      {u"C:/dir/", u"sub", uR"(C:/dir/\sub)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(joinPath(c.folder, c.name, kWindowsPathStyle), c.expected)
        << shown(c.folder) << " + " << (c.name ? shown(c.name) : "null");
  }
}

TEST(WindowsJoinPath, SubfolderOfANetworkRootShowsAsANetworkPath) {
  std::u16string joined = joinPath(uR"(\\?\UNC\server\share)", u"dir", kWindowsPathStyle);
  EXPECT_EQ(toDisplayPath(joined.c_str(), kWindowsPathStyle), uR"(\\server\share\dir)");
}

TEST(PathForms, PathsFarBeyondAnyPlatformLimitPassWhole) {
  std::u16string deep = u"C:";
  for (int i = 0; i < 1000; ++i) deep += u"\\folder" + std::u16string(1, u'a' + i % 26);
  ASSERT_GT(deep.size(), 8000u);
  std::u16string extended = toExtendedPath(deep.c_str(), kWindowsPathStyle);
  EXPECT_EQ(extended, uR"(\\?\)" + deep);
  std::u16string joined = joinPath(extended.c_str(), u"last", kWindowsPathStyle);
  EXPECT_EQ(joined, extended + u"\\last");
  EXPECT_EQ(toDisplayPath(joined.c_str(), kWindowsPathStyle), deep + u"\\last");

  std::u16string posix;
  for (int i = 0; i < 1000; ++i) posix += u"/folder" + std::u16string(1, u'a' + i % 26);
  EXPECT_EQ(toExtendedPath(posix.c_str(), kPosixPathStyle), posix);
  EXPECT_EQ(joinPath(posix.c_str(), u"last", kPosixPathStyle), posix + u"/last");
  EXPECT_EQ(toDisplayPath(posix.c_str(), kPosixPathStyle), posix);
}

TEST(ReplaceAll, ReplacedTextIsNeverSearchedAgain) {
  struct Case {
    const char16_t* text;
    const char16_t* pattern;
    const char16_t* replacement;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"aaa", u"a", u"aa", u"aaaaaa"}, {u"abc", u"", u"x", u"abc"},        {u"", u"a", u"b", u""},
      {u"abcabc", u"bc", u"", u"aa"},   {u"xyx", u"x", u"xyx", u"xyxyxyx"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(replaceAll(c.text, c.pattern, c.replacement), c.expected) << shown(c.text);
  }
}

TEST(CollapseDoubleBackslashes, OnePassHalvesEachRunRoundingUp) {
  const TextCase cases[] = {
      {u"a\\b", u"a\\b"},         {u"a\\\\b", u"a\\b"},           {u"a\\\\\\b", u"a\\\\b"},
      {u"a\\\\\\\\b", u"a\\\\b"}, {u"a\\\\\\\\\\b", u"a\\\\\\b"}, {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(collapseDoubleBackslashes(c.input), c.expected);
}

TEST(PosixPathForms, OnlyTheEnclosingQuotesAreRemoved) {
  const TextCase cases[] = {
      {u"/srv/data/", u"/srv/data/"},
      {u"\"/srv/data\"", u"/srv/data"},
      {u"\"\"/srv/data\"\"", u"\"/srv/data\""},
      {u"/srv/data\"", u"/srv/data"},
      {u".", u"."},
      {u"../data//x", u"../data//x"},
      {u"data\\\\x", u"data\\\\x"},
      {u"", u""},
      {u"\"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toExtendedPath(c.input, kPosixPathStyle), c.expected) << shown(c.input);
  }
}

TEST(PosixPathForms, DisplayFormIsThePathItself) {
  const char16_t* paths[] = {u"/srv/data/", uR"(\\?\C:\x)", uR"(\\?\UNC\s\x)", u""};
  for (const char16_t* path : paths) EXPECT_EQ(toDisplayPath(path, kPosixPathStyle), path);
  EXPECT_EQ(toDisplayPath(nullptr, kPosixPathStyle), u"");
}

TEST(PosixPathForms, JoinUsesOneSlash) {
  const JoinCase cases[] = {
      {u"/", u"etc", u"/etc"},           {u"", u"etc", u"etc"},
      {u"/srv", u"data", u"/srv/data"},  {u"/srv/", u"/data", u"/srv/data"},
      {u"/srv", u"/data", u"/srv/data"}, {u".", u"*", u"./*"},
      {u"/srv", u"a\\b", u"/srv/a\\b"},  {u"/srv", nullptr, u"/srv"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(joinPath(c.folder, c.name, kPosixPathStyle), c.expected) << shown(c.folder);
  }
}

}  // namespace
