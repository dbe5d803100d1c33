// The viewer's Windows entry: the runtime hands over the arguments as UTF-16.
#include "view/command_line.h"

int wmain(int argc, wchar_t** argv) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is 16-bit");
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) {
    arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  }
  return runView(arguments, "TreemeterView.exe");
}
