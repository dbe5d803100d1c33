// What the Win32 files share: the API's wide text as the tool's 16-bit text, and FILETIME values.
#pragma once

#include <windows.h>

#include <string>

#include "platform/clock.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is 16-bit");

inline const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string fromWide(const wchar_t* text, std::size_t count) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), count);
}

inline FileTime toFileTime(const FILETIME& time) {
  return static_cast<FileTime>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}
