// Standard output and standard error, as bytes. One implementation per platform (console-posix.cc,
// console-win32.cc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Prepares standard output for raw bytes; true when it is an interactive terminal (a console on
// Windows).
bool prepareStandardOutput();

// Writes bytes to standard output as they are; 0 when all were written, otherwise the system's
// error code for the failure.
std::uint32_t writeStandardOutput(const char* bytes, std::size_t count);

// Writes bytes to standard error as they are. A failure is not reported: there is nowhere left to
// report it.
void writeStandardError(std::string_view bytes);

// The line end of the platform's own diagnostics on standard error.
extern const std::string_view kDiagnosticLineEnd;

// How the platform's names carry characters, which decides what a control character looks like in
// them: on POSIX a name is bytes (UTF-8 where it is text), one 16-bit unit a byte; on Windows it
// is UTF-16.
enum class TextUnits { kBytes, kUtf16 };
extern const TextUnits kNativeTextUnits;

// True when standard error is an interactive terminal (a console on Windows), where a status line
// may be drawn; false for a file, a pipe or nothing at all.
bool standardErrorIsTerminal();

// True when standard output is the very terminal that standard error is.
bool standardOutputSharesErrorTerminal();

// How many columns the terminal of standard error has; 80 when it does not say.
std::size_t errorTerminalColumns();

// True where the terminal of standard error is to get no escape sequence: TERM is dumb or unset.
// Never on Windows, whose console is drawn on through its own functions.
bool errorTerminalTakesNoEscapes();

// True while another program holds the terminal of standard error for itself, as a pager or an
// editor does: it reads keys one at a time (POSIX: out of canonical mode; Windows: line input
// off), and the screen is its own.
bool errorTerminalHeldByAnother();

// On the terminal of standard error: blanks the cursor's row and every row below it, writes
// `bytes` (one row's worth, without line ends; none to leave the rows blank) from the start of
// that row, and puts the cursor back at its start. A text written so can be replaced whole even
// after a narrower window folded it onto more rows: the terminal keeps the cursor at the start of
// the folded text, and the rows it spills onto lie below.
void replaceErrorTerminalRows(std::string_view bytes);
