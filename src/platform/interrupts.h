// How a run ends early: interrupted by the user or the system (Ctrl-C, a terminal that closes,
// a termination request), or because the reader of its report went away. One implementation per
// platform (interrupts-posix.cc, interrupts-win32.cc).
//
// An interrupt only sets a flag, which the run reads between batches of report lines: it writes
// what it knows, and then ends as the interrupt would have ended it.
#pragma once

#include <cstdint>

// From now on an interrupt is noted rather than fatal. A second one of the same kind ends the
// run at once, as if nothing had been noted.
void watchForInterrupts();

// The interrupt noted so far (the signal's number on POSIX); 0 when there was none.
int interruptNoted();

// Ends the process as the interrupt would have ended it, with the conventional status.
[[noreturn]] void endAsInterrupted(int interrupt);

// True for the code of a write whose reader has gone away (a closed pipe).
bool isReaderGone(std::uint32_t errorCode);

// Ends the process quietly, as a program whose reader went away ends (on POSIX, by SIGPIPE).
[[noreturn]] void endAsReaderGone();
