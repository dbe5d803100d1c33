// The status line of a long scan: on standard error, only while it is a terminal, one line that
// says how far the scan has come, redrawn in place a few times a second and erased at the end. It
// never touches standard output, and keeps out of the way of report lines written to the same
// terminal. Whoever writes the report owns it and draws it from the same thread, between lines,
// and tells it the time by the clock the run goes by.
// While the line is shown the cursor rests at the start of its first row, so that each drawing
// replaces the last whole, even one that a narrower window has folded onto more rows.
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
  Clock::time_point startedAt;
  Clock::time_point drawnAt;
  std::u16string text;  // drawn last
  bool shown = false;   // on the screen now, with the cursor at the start of its first row
};

// A status line for this process's standard error, shown only where it is a terminal, for a scan
// that starts at `now`.
StatusLine makeStatusLine(StatusLine::Clock::time_point now);

// Whether the line is to be drawn again: on a terminal, once the scan has run for half a second
// (a short scan shows nothing), and a fifth of a second after it was drawn last.
bool statusLineDue(const StatusLine& line, StatusLine::Clock::time_point now);

// Draws the progress at `now` in place of what the line showed.
void drawStatusLine(StatusLine& line, const ScanProgress& progress,
                    StatusLine::Clock::time_point now);

// Leaves the line's row of the terminal blank, with the cursor at its start; the text is kept,
// for showing the line again after report lines.
void eraseStatusLine(StatusLine& line);

// Draws the text shown last again, if any was.
void redrawStatusLine(StatusLine& line);
