// Win32 files: CreateFileW and ReadFile.
#include "platform/common-win32.h"
#include "platform/files.h"

namespace {

// Appends everything `handle` gives until its end; 0, or the system's code for the read that
// failed. A pipe whose writer has closed it ends as a file does.
std::uint32_t readToEnd(HANDLE handle, std::string& bytes) {
  char buffer[1 << 16];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
      DWORD failure = GetLastError();
      return failure == ERROR_BROKEN_PIPE ? 0 : failure;
    }
    if (got == 0) return 0;
    bytes.append(buffer, got);
  }
}

}  // namespace

std::uint32_t readWholeFile(const std::u16string& name, std::string& bytes) {
  HANDLE file = CreateFileW(wide(name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  std::uint32_t failure = readToEnd(file, bytes);
  CloseHandle(file);
  return failure;
}

std::uint32_t readStandardInput(std::string& bytes) {
  return readToEnd(GetStdHandle(STD_INPUT_HANDLE), bytes);
}
