// Win32 interrupts: Ctrl-C, Ctrl-Break and the closing of the console (or the session) reach a
// console control handler, which runs on a thread of its own and notes them; the run ends with the
// status Windows gives a program ended by Ctrl-C once it has written what it knows.
//
// The flag is the process's one piece of state shared with the handler, which can reach nothing
// else; it is written only there and read by the thread that writes the report.
#include <atomic>

#include "platform/common-win32.h"
#include "platform/interrupts.h"

namespace {

std::atomic<int> notedInterrupt{0};

// The status of a console program ended by Ctrl-C or Ctrl-Break (STATUS_CONTROL_C_EXIT).
constexpr UINT kInterruptedStatus = 0xC000013A;
// A console that closes ends the process this long after the handler is called, or when it
// returns: it waits, so that the run has time to write what it knows.
constexpr DWORD kCloseGraceMilliseconds = 4000;

BOOL WINAPI noteInterrupt(DWORD event) {
  // The event numbers start at 0 (CTRL_C_EVENT): the flag holds them plus one.
  int second = notedInterrupt.exchange(static_cast<int>(event) + 1);
  if (second != 0 && event <= CTRL_BREAK_EVENT) ExitProcess(kInterruptedStatus);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    Sleep(kCloseGraceMilliseconds);
  }
  return TRUE;
}

}  // namespace

void watchForInterrupts() {
  SetConsoleCtrlHandler(noteInterrupt, TRUE);
}

int interruptNoted() {
  return notedInterrupt.load();
}

void endAsInterrupted(int) {
  ExitProcess(kInterruptedStatus);
}

bool isReaderGone(std::uint32_t errorCode) {
  // Windows says the pipe is being closed, or broken; wine, that it is no longer connected.
  return errorCode == ERROR_NO_DATA || errorCode == ERROR_BROKEN_PIPE ||
         errorCode == ERROR_PIPE_NOT_CONNECTED;
}

void endAsReaderGone() {
  ExitProcess(1);
}
