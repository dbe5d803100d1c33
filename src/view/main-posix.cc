// The viewer's POSIX entry: each byte of an argument becomes the code unit of the same value, so
// that any file name passes through unchanged.
#include <cstring>

#include "view/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(argv[i]);
    arguments.emplace_back(bytes, bytes + std::strlen(argv[i]));
  }
  return runView(arguments,
                 {"treemeter-view",
                  "Example: treemeter no 1MB 0 3 /srv > srv.tsv && treemeter-view srv.tsv > "
                  "srv.html\n"
                  "man treemeter-view tells more.\n"});
}
