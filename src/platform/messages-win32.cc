// Win32 error texts: FormatMessageW in the user's default language.
#include "platform/common-win32.h"
#include "platform/messages.h"

// The package puts the manual page, rendered as text, beside the program.
const std::u16string_view kManualPointer =
    u"Read more in its manual: Treemeter.txt, beside Treemeter.exe.";

std::u16string systemMessageText(std::uint32_t errorCode) {
  constexpr DWORD kMessageFlags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  constexpr DWORD kUserDefaultLanguage = 1024;
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(kMessageFlags, nullptr, errorCode, kUserDefaultLanguage,
                                reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (!buffer) return {};
  std::u16string message = fromWide(buffer, length);
  LocalFree(buffer);
  return message;
}
