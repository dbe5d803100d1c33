// The program with the number of listers given first: `treemeter-workers N ...` runs as
// `treemeter ...` with N folder listings in flight. For measuring, not for installing: the tool chooses
// its own number.
#include <cstdlib>

#include "app/run.h"

int main(int argc, char** argv) {
  if (argc < 2 || std::atoi(argv[1]) < 1) return 2;
  auto listers = static_cast<std::size_t>(std::atoi(argv[1]));
  // The count takes the place of the program's name.
  argv[1] = argv[0];
  return runPosixProgram(argc - 1, argv + 1, listers);
}
