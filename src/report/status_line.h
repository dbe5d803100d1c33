// The status line of a long scan: on standard error, only while it is a terminal, one line that
// says how far the scan has come, redrawn in place at most five times a second and erased at the
// end. It never touches standard output, and keeps out of the way of report lines written to the
// same terminal: it is erased before them and comes back when its next drawing is due. Whoever
// writes the report owns it and draws it from the same thread, between lines, and tells it the
// time by the clock the run goes by.
//
// Invariants: while the line is shown the cursor rests at the start of its first row, so that each
// drawing replaces the last whole, even one that a narrower window has folded onto more rows. Each
// drawing is made for the width the terminal has then. Nothing is drawn or erased while another
// program holds the terminal (a pager): the screen is that program's. Where the terminal takes no
// escape sequences, only carriage returns and blanks are written.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "scan/totals.h"

// The status line's text: the folders and entries counted, the bytes in the report's units, the
// time since the scan began and the folder the report waits for, as the user sees it, shortened
// in the middle to fit in `width` units. Where
// the width is short, the counts give way before the folder does.
std::u16string statusLineText(const ScanProgress& progress, std::chrono::seconds elapsed,
                              std::size_t width);

// The text itself when it fits in `width` units; otherwise its start and its end, "..." between.
std::u16string shortenedInTheMiddle(std::u16string_view text, std::size_t width);

struct StatusLine {
  using Clock = std::chrono::steady_clock;
  bool onTerminal = false;        // standard error is a terminal: the only case it is drawn
  bool sharesWithReport = false;  // standard output is that terminal too
  bool plain = false;             // the terminal takes no escape sequences
  Clock::time_point startedAt;
  Clock::time_point drawnAt;
  std::size_t shownUnits = 0;  // of the text on the screen now; 0 when none is
};

// A status line for this process's standard error, shown only where it is a terminal, for a scan
// that starts at `now`.
StatusLine makeStatusLine(StatusLine::Clock::time_point now);

// Whether the line is to be drawn again: on a terminal, once the scan has run for half a second
// (a short scan shows nothing), and a fifth of a second after it was drawn last.
bool statusLineDue(const StatusLine& line, StatusLine::Clock::time_point now);

// Draws the progress at `now` in place of what the line showed, for the terminal's width now.
void drawStatusLine(StatusLine& line, const ScanProgress& progress,
                    StatusLine::Clock::time_point now);

// Leaves the line's rows of the terminal blank, with the cursor at the start of the first.
void eraseStatusLine(StatusLine& line);
