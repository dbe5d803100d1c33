// The path forms of both platforms on any texts: joining keeps the folder whole, the extended
// form always carries the prefix and keeps every character that is not a backslash, the display
// form of a folder argument never shows the prefix, and the text replacements agree with plain
// references.
#include <algorithm>

#include "fuzz_support.h"
#include "paths/paths.h"

namespace {

bool beginsWith(std::u16string_view text, std::u16string_view start) {
  return text.substr(0, start.size()) == start;
}

bool endsWith(std::u16string_view text, std::u16string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::u16string withoutBackslashes(std::u16string_view text) {
  std::u16string kept;
  for (char16_t unit : text) {
    if (unit != u'\\') kept += unit;
  }
  return kept;
}

std::u16string withoutEnclosingQuotes(std::u16string_view text) {
  if (!text.empty() && text.front() == u'"') text.remove_prefix(1);
  if (!text.empty() && text.back() == u'"') text.remove_suffix(1);
  return std::u16string(text);
}

// Each occurrence found scanning the original text left to right, never overlapping.
std::u16string referenceReplaceAll(std::u16string_view text, std::u16string_view pattern,
                                   std::u16string_view replacement) {
  if (pattern.empty()) return std::u16string(text);
  std::u16string result;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text.substr(i, pattern.size()) == pattern) {
      result += replacement;
      i += pattern.size();
    } else {
      result += text[i++];
    }
  }
  return result;
}

void checkJoin(const std::u16string& folder, const std::u16string& name, const PathStyle& style) {
  std::u16string joined = joinPath(folder.c_str(), name.c_str(), style);
  require(beginsWith(joined, folder), "joinPath keeps the folder as its beginning", joined);
  std::u16string appended = folder;
  appendPathName(appended, name, style);
  require(appended == joined, "appendPathName is joinPath in place", joined);
  require(joinPath(folder.c_str(), nullptr, style) == folder, "no name, the folder alone", folder);
  // What follows the folder is the name, less at most its one leading separator, after at most
  // one added separator; a separator stands where they meet unless the folder is empty.
  std::u16string_view tail = std::u16string_view(joined).substr(folder.size());
  std::u16string separator(1, style.separator);
  bool nameWhole = tail == name || tail == separator + name;
  bool nameLessOne =
      !name.empty() && name[0] == style.separator && tail == std::u16string_view(name).substr(1);
  require(nameWhole || nameLessOne, "joinPath appends the name", joined);
  if (!folder.empty()) {
    require(endsWith(folder, separator) || beginsWith(tail, separator),
            "a separator between folder and name", joined);
  }
  if (endsWith(folder, separator)) {
    require(tail.size() <= name.size(), "no separator added after the folder's own", joined);
  }
}

void checkWindowsForms(const std::u16string& argument) {
  const std::u16string_view prefix = kWindowsPathStyle.extendedPrefix;
  std::u16string extended = toExtendedPath(argument.c_str(), kWindowsPathStyle);
  require(extended.find(prefix) != extended.npos, "the extended form holds the prefix", argument);
  std::u16string display = toDisplayPath(extended.c_str(), kWindowsPathStyle);
  std::u16string typed = withoutEnclosingQuotes(argument);
  // Two kinds of folder argument break these two. One that already holds the prefix is taken as
  // extended-length as it stands, and its display form removes one prefix only: "\\?\UNC\?\x"
  // and "\\?\\\\\\?\x" both show as "\\?\x". A relative one beginning "UNC\" gets the bare
  // prefix and so reads as a network path: "UNC\srv\x" shows as "\\srv\x", "UNC\?\x" as "\\?\x".
  if (typed.find(prefix) != typed.npos || beginsWith(typed, u"UNC\\")) return;
  require(!beginsWith(display, prefix), "the display form does not begin with the prefix",
          argument);
  require(withoutBackslashes(display) == withoutBackslashes(typed),
          "every character but backslashes and the enclosing quotes is kept", argument);
}

void checkPosixForms(const std::u16string& argument) {
  std::u16string extended = toExtendedPath(argument.c_str(), kPosixPathStyle);
  require(extended == withoutEnclosingQuotes(argument), "the POSIX form is the path unquoted",
          argument);
  require(toDisplayPath(extended.c_str(), kPosixPathStyle) == extended,
          "the POSIX display form is the path itself", argument);
}

void checkDisplayOfAnyPath(const std::u16string& path, const PathStyle& style) {
  std::u16string display = toDisplayPath(path.c_str(), style);
  bool network =
      !style.networkExtendedPrefix.empty() && beginsWith(path, style.networkExtendedPrefix);
  std::u16string_view shown = display;
  if (network) {
    require(beginsWith(display, u"\\\\"), "a network path shows two backslashes", path);
    shown.remove_prefix(2);
  }
  require(endsWith(path, shown) && shown.size() <= path.size(), "the display form ends the path",
          path);
  require(toDisplayPath(nullptr, style).empty(), "null shows as empty");
}

void checkReplacements(const std::u16string& text, const std::u16string& pattern,
                       const std::u16string& replacement) {
  require(replaceAll(text, pattern, replacement) == referenceReplaceAll(text, pattern, replacement),
          "replaceAll", text);
  require(replaceAll(text, pattern, pattern) == text, "replacing a pattern by itself", text);
  std::u16string collapsed = collapseDoubleBackslashes(text);
  require(collapsed == referenceReplaceAll(text, u"\\\\", u"\\"), "collapse", text);
  require(withoutBackslashes(collapsed) == withoutBackslashes(text),
          "collapsing keeps every other character", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input = {data, size};
  std::vector<std::u16string> fields = splitFields(takeUnits(input), u'\0');
  fields.resize(std::max<std::size_t>(fields.size(), 3));
  for (const PathStyle* style : {&kWindowsPathStyle, &kPosixPathStyle}) {
    checkJoin(fields[0], fields[1], *style);
    checkDisplayOfAnyPath(fields[0], *style);
  }
  checkWindowsForms(fields[0]);
  checkPosixForms(fields[0]);
  checkReplacements(fields[0], fields[1], fields[2]);
  return 0;
}
