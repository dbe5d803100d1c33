// The POSIX entry: the command line arrives as bytes, each widened to the 16-bit unit of the same
// value so that any name passes through unchanged.
#include <cstring>
#include <string>
#include <vector>

#include "app/run.h"
#include "scan/scan.h"

int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(argv[i]);
    arguments.emplace_back(bytes, bytes + std::strlen(argv[i]));
  }
  return runTreemeter(arguments, kScanChoosesWorkers);
}
