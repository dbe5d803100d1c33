// The viewer's Windows entry: the runtime hands over the arguments as UTF-16.
#include "view/command_line.h"

int wmain(int argc, wchar_t** argv) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is 16-bit");
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) {
    arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  }
  return runView(arguments,
                 {"TreemeterView.exe",
                  "Example, in cmd.exe:\n"
                  "  Treemeter.exe no 1MB 0 3 C:\\Users > \"%TEMP%\\users.tsv\"\n"
                  "  TreemeterView.exe \"%TEMP%\\users.tsv\" > \"%TEMP%\\users.html\"\n"
                  "  start \"\" \"%TEMP%\\users.html\"\n"
                  "In PowerShell, give each line to cmd.exe (cmd /c '...'), whose > keeps the\n"
                  "bytes as they are written.\n"
                  "TreemeterView.txt, beside the program, tells more.\n"});
}
