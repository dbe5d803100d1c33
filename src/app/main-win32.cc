// The Windows entry: the runtime splits the command line by the platform's rules and hands over
// UTF-16 arguments, the tool's own text.
#include <string>
#include <vector>

#include "app/run.h"
#include "platform/interrupts.h"
#include "scan/scan.h"

int wmain(int argc, wchar_t** argv) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is 16-bit");
  watchForInterrupts();
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) {
    arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  }
  ListingContextPtr listing = makeListingContext();
  return runTreemeter(arguments, {*listing, kScanChoosesListers, std::chrono::steady_clock::now});
}
