// Advice to the system on memory the program is about to fill. One implementation per platform
// (memory-posix.cc, memory-win32.cc).
#pragma once

#include <cstddef>

// Asks for the pages of [start, start + bytes) to be large ones where the system offers them
// (Linux's transparent huge pages): a report of a million rows fills hundreds of megabytes, and
// on a virtual machine taking them in 4 KiB pages costs more than all the reading.
void adviseLargePages(const void* start, std::size_t bytes);

// Reserves room for `count` items in a string or vector that is about to be filled, in large
// pages.
template <typename Container>
void reserveInLargePages(Container& container, std::size_t count) {
  container.reserve(count);
  adviseLargePages(container.data(), container.capacity() * sizeof(*container.data()));
}
