// POSIX memory advice: madvise(2) with MADV_HUGEPAGE where the system has it (Linux).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/memory.h"

void adviseLargePages([[maybe_unused]] const void* start, [[maybe_unused]] std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  // Only whole pages can be advised: those that lie wholly inside the range.
  static const auto kPage = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  auto first = (reinterpret_cast<std::uintptr_t>(start) + kPage - 1) / kPage * kPage;
  auto end = (reinterpret_cast<std::uintptr_t>(start) + bytes) / kPage * kPage;
  // Advice that is not taken changes nothing but the speed.
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#endif
}
