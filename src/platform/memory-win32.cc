// Win32 memory advice: large pages need a privilege that users lack, so there is none to give.
#include "platform/memory.h"

void adviseLargePages(const void*, std::size_t) {}
