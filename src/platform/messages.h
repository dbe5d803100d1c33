// The platform's own texts: the system's messages for its error codes, and where the manual is.
// One implementation per platform (messages-posix.cc, messages-win32.cc).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The usage text's last line, without its line end: where a user of this platform reads the
// manual.
extern const std::u16string_view kManualPointer;

// The system's message for an error code, unchanged (with its own line end where the system
// gives one); empty when the system has no message for the code.
std::u16string systemMessageText(std::uint32_t errorCode);
