// The system's own texts for its error codes. One implementation per platform
// (messages-posix.cc, messages-win32.cc).
#pragma once

#include <cstdint>
#include <string>

// The system's message for an error code, unchanged (with its own line end where the system
// gives one); empty when the system has no message for the code.
std::u16string systemMessageText(std::uint32_t errorCode);
