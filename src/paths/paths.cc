#include "paths/paths.h"

const PathStyle kWindowsPathStyle = {u'\\', u"\\\\?\\", u"\\\\?\\UNC\\"};
const PathStyle kPosixPathStyle = {u'/', u"", u""};

namespace {

bool beginsWith(std::u16string_view text, std::u16string_view start) {
  return text.substr(0, start.size()) == start;
}

std::u16string_view viewOf(const char16_t* text) {
  return text ? std::u16string_view(text) : std::u16string_view();
}

std::u16string removeEnclosingQuotes(std::u16string_view text) {
  if (!text.empty() && text.front() == u'"') text.remove_prefix(1);
  if (!text.empty() && text.back() == u'"') text.remove_suffix(1);
  return std::u16string(text);
}

// Collapses doubled backslashes and adds the extended-length prefix, for a folder argument
// whose quotes are already gone.
std::u16string addExtendedPrefix(const std::u16string& path, const PathStyle& style) {
  const std::u16string_view networkStart = u"\\\\";
  std::u16string working;
  if (path.find(style.extendedPrefix) != std::u16string::npos || beginsWith(path, networkStart)) {
    // Replacing the first character keeps a leading pair of backslashes through the collapse.
    working = u'\\' + collapseDoubleBackslashes(std::u16string_view(path).substr(1));
  } else {
    working = collapseDoubleBackslashes(path);
  }
  if (working.find(style.extendedPrefix) != std::u16string::npos) return working;
  if (beginsWith(working, networkStart)) {
    std::u16string_view network = style.networkExtendedPrefix;
    network.remove_suffix(1);  // "\\?\UNC" and the path's remaining backslash make the prefix
    return std::u16string(network) + working.substr(1);
  }
  return std::u16string(style.extendedPrefix) + working;
}

}  // namespace

std::u16string replaceAll(std::u16string_view text, std::u16string_view pattern,
                          std::u16string_view replacement) {
  std::u16string result(text);
  if (pattern.empty()) return result;
  std::size_t position = result.find(pattern);
  while (position != std::u16string::npos) {
    result.replace(position, pattern.size(), replacement);
    position = result.find(pattern, position + replacement.size());
  }
  return result;
}

std::u16string collapseDoubleBackslashes(std::u16string_view text) {
  return replaceAll(text, u"\\\\", u"\\");
}

std::u16string toExtendedPath(const char16_t* folderArg, const PathStyle& style) {
  std::u16string path = removeEnclosingQuotes(viewOf(folderArg));
  if (style.extendedPrefix.empty()) return path;
  return addExtendedPrefix(path, style);
}

std::u16string toDisplayPath(const char16_t* path, const PathStyle& style) {
  std::u16string_view text = viewOf(path);
  if (!style.networkExtendedPrefix.empty() && beginsWith(text, style.networkExtendedPrefix)) {
    return std::u16string(2, style.separator) +
           std::u16string(text.substr(style.networkExtendedPrefix.size()));
  }
  if (!style.extendedPrefix.empty() && beginsWith(text, style.extendedPrefix)) {
    return std::u16string(text.substr(style.extendedPrefix.size()));
  }
  return std::u16string(text);
}

void appendPathName(std::u16string& path, std::u16string_view name, const PathStyle& style) {
  bool folderEndsWithSeparator = !path.empty() && path.back() == style.separator;
  bool nameBeginsWithSeparator = !name.empty() && name.front() == style.separator;
  if (!path.empty() && !folderEndsWithSeparator && !nameBeginsWithSeparator) {
    path += style.separator;
  }
  if (nameBeginsWithSeparator && folderEndsWithSeparator) name.remove_prefix(1);
  path += name;
}

std::u16string joinPath(const char16_t* folder, const char16_t* name, const PathStyle& style) {
  std::u16string path(viewOf(folder));
  if (name) appendPathName(path, name, style);
  return path;
}
