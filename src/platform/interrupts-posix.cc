// POSIX interrupts: SIGINT, SIGTERM and SIGHUP are noted by a handler, and the run ends by the
// same signal once it has written what it knows, so that a shell or a parent sees the signal.
//
// The flag is the process's one piece of state shared with a signal handler, which can reach
// nothing else; it is written only there and read by the thread that writes the report.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <initializer_list>

#include "platform/interrupts.h"

namespace {

std::atomic<int> notedInterrupt{0};
static_assert(std::atomic<int>::is_always_lock_free,
              "a signal handler may only set a lock-free flag");

void noteInterrupt(int signal) {
  notedInterrupt = signal;
}

[[noreturn]] void endBySignal(int signal) {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  // A signal whose default is not to end the process (none of those used here) ends it anyway.
  _exit(128 + signal);
}

}  // namespace

void watchForInterrupts() {
  struct sigaction action = {};
  action.sa_handler = noteInterrupt;
  sigemptyset(&action.sa_mask);
  // Restarted calls keep the report's writes whole; the second interrupt finds the default action
  // back and ends the run at once, for a user whose report cannot be written (a stalled reader).
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

int interruptNoted() {
  return notedInterrupt.load();
}

void endAsInterrupted(int interrupt) {
  endBySignal(interrupt);
}

bool isReaderGone(std::uint32_t errorCode) {
  return errorCode == EPIPE;
}

void endAsReaderGone() {
  endBySignal(SIGPIPE);
}
