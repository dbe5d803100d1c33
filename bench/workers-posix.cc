// The program with the number of folder reads in flight given first: `treemeter-workers N ...`
// runs as `treemeter ...` with N workers. For measuring, not for installing: the tool chooses its
// own number.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/run.h"

int main(int argc, char** argv) {
  if (argc < 2 || std::atoi(argv[1]) < 1) return 2;
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) {
    if (i == 1) continue;
    const auto* bytes = reinterpret_cast<const unsigned char*>(argv[i]);
    arguments.emplace_back(bytes, bytes + std::strlen(argv[i]));
  }
  return runTreemeter(arguments, static_cast<std::size_t>(std::atoi(argv[1])));
}
