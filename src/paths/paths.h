// The text forms of folder paths: the form the scan lists (extended-length on Windows), the form
// shown to the user, and the joining of a folder and a name. Pure text: nothing here touches the
// file system, and every form is available on every platform.
#pragma once

#include <string>
#include <string_view>

struct PathStyle {
  char16_t separator;
  // The extended-length prefixes for drive paths and for network paths; empty where the platform
  // lists folders by the path as typed.
  std::u16string_view extendedPrefix;
  std::u16string_view networkExtendedPrefix;
};

extern const PathStyle kWindowsPathStyle;
extern const PathStyle kPosixPathStyle;

// The style of the platform the tool runs on; its listing (src/platform) defines it.
const PathStyle& nativePathStyle();

// The folder argument, as the command line delivers it, in the form the scan lists it: one quote
// removed at each end, and on Windows doubled backslashes collapsed and the extended-length
// prefix added.
std::u16string toExtendedPath(const char16_t* folderArg,
                              const PathStyle& style = nativePathStyle());

// The path as the user sees it, without the extended-length prefix; empty for null.
std::u16string toDisplayPath(const char16_t* path, const PathStyle& style = nativePathStyle());

// The folder and the name with one separator between them; the folder alone for a null name.
std::u16string joinPath(const char16_t* folder, const char16_t* name,
                        const PathStyle& style = nativePathStyle());

// joinPath in place: appends the name to the folder held in `path`.
void appendPathName(std::u16string& path, std::u16string_view name,
                    const PathStyle& style = nativePathStyle());

// Each pair of backslashes becomes one, in a single left-to-right pass.
std::u16string collapseDoubleBackslashes(std::u16string_view text);

// Every occurrence of `pattern` replaced by `replacement`, searching on behind each replacement so
// that replaced text is never searched again. An empty pattern changes nothing.
std::u16string replaceAll(std::u16string_view text, std::u16string_view pattern,
                          std::u16string_view replacement);
