#include "report/status_line.h"

#include <algorithm>

#include "paths/paths.h"
#include "platform/console.h"
#include "report/format.h"
#include "report/output.h"

namespace {

constexpr auto kFirstDrawAfter = std::chrono::milliseconds(500);
constexpr auto kDrawEvery = std::chrono::milliseconds(200);
constexpr std::u16string_view kCut = u"...";
// The units the folder keeps before the counts give way: enough to tell one folder from another.
constexpr std::size_t kFolderRoom = 20;

// The counts in their forms from the fullest down: a narrow terminal drops the entries first, then
// the folders, so that the folder stays in view; the size and the time always show.
enum class Counts { kAll, kWithoutEntries, kSizeAndTime };

// Where names are bytes, units 0x80 to 0xBF continue a UTF-8 character: a cut there would leave
// half a character on the screen.
bool continuesACharacter(char16_t unit) {
  return unit >= 0x80 && unit <= 0xBF;
}

void appendTwoDigits(std::u16string& out, std::int64_t value) {
  out += static_cast<char16_t>(u'0' + value / 10 % 10);
  out += static_cast<char16_t>(u'0' + value % 10);
}

// 0:42, 12:05 or 1:02:03.
void appendElapsed(std::u16string& out, std::chrono::seconds elapsed) {
  std::int64_t seconds = elapsed.count() < 0 ? 0 : elapsed.count();
  std::int64_t minutes = seconds / 60;
  if (minutes >= 60) {
    appendDecimal(out, static_cast<std::uint64_t>(minutes / 60));
    out += u':';
    appendTwoDigits(out, minutes % 60);
  } else {
    appendDecimal(out, static_cast<std::uint64_t>(minutes));
  }
  out += u':';
  appendTwoDigits(out, seconds % 60);
}

// "1234 folders, 56789 entries, 3.000 GB, 1:05  " and its shorter forms.
void appendCounts(std::u16string& out, const ScanProgress& progress, std::chrono::seconds elapsed,
                  Counts counts) {
  if (counts != Counts::kSizeAndTime) {
    appendDecimal(out, progress.folders);
    out += u" folders, ";
  }
  if (counts == Counts::kAll) {
    appendDecimal(out, progress.entries);
    out += u" entries, ";
  }
  appendSizeBinary(out, static_cast<std::uint64_t>(progress.totalBytes));
  out += u", ";
  appendElapsed(out, elapsed);
  out += u"  ";
}

// `text` over the line shown before, with carriage returns and blanks alone: the blanks cover what
// the shorter text leaves of the longer one, and the cursor ends at the line's start.
std::string overwrittenWithBlanks(std::u16string_view text, std::size_t shownUnits) {
  std::string bytes = "\r" + outputBytes(text);
  if (shownUnits > text.size()) bytes.append(shownUnits - text.size(), ' ');
  bytes += '\r';
  return bytes;
}

// Shows `text` (none: blanks) in place of the line shown before, however many rows a narrower
// window has folded that one onto; while another program holds the terminal, what was shown is
// left to it.
void showOnLine(StatusLine& line, std::u16string_view text) {
  if (errorTerminalHeldByAnother()) {
    line.shownUnits = 0;
    return;
  }
  if (line.plain) {
    writeStandardError(overwrittenWithBlanks(text, line.shownUnits));
  } else {
    replaceErrorTerminalRows(outputBytes(text));
  }
  line.shownUnits = text.size();
}

}  // namespace

std::u16string shortenedInTheMiddle(std::u16string_view text, std::size_t width) {
  if (text.size() <= width) return std::u16string(text);
  if (width <= kCut.size()) return std::u16string(text.substr(text.size() - width));
  std::size_t kept = width - kCut.size();
  std::size_t headEnd = kept / 2;
  std::size_t tailStart = text.size() - (kept - headEnd);
  while (headEnd > 0 && continuesACharacter(text[headEnd])) --headEnd;
  while (tailStart < text.size() && continuesACharacter(text[tailStart])) ++tailStart;
  return std::u16string(text.substr(0, headEnd)) + std::u16string(kCut) +
         std::u16string(text.substr(tailStart));
}

std::u16string statusLineText(const ScanProgress& progress, std::chrono::seconds elapsed,
                              std::size_t width) {
  std::u16string folder = toDisplayPath(progress.waitingFor.c_str());
  std::size_t folderRoom = std::min(kFolderRoom, folder.size());
  std::u16string text;
  for (Counts counts : {Counts::kAll, Counts::kWithoutEntries, Counts::kSizeAndTime}) {
    text.clear();
    appendCounts(text, progress, elapsed, counts);
    if (text.size() + folderRoom <= width) break;
  }
  if (text.size() >= width) return text.substr(0, width);
  appendShownPath(text, shortenedInTheMiddle(folder, width - text.size()));
  return text;
}

StatusLine makeStatusLine(StatusLine::Clock::time_point now) {
  StatusLine line;
  line.startedAt = now;
  line.onTerminal = standardErrorIsTerminal();
  line.sharesWithReport = line.onTerminal && standardOutputSharesErrorTerminal();
  line.plain = line.onTerminal && errorTerminalTakesNoEscapes();
  return line;
}

bool statusLineDue(const StatusLine& line, StatusLine::Clock::time_point now) {
  return line.onTerminal && now - line.startedAt >= kFirstDrawAfter &&
         now - line.drawnAt >= kDrawEvery;
}

void drawStatusLine(StatusLine& line, const ScanProgress& progress,
                    StatusLine::Clock::time_point now) {
  line.drawnAt = now;
  auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(line.drawnAt - line.startedAt);
  // One column short of the width: a line that fills the last column wraps on some terminals.
  std::size_t columns = errorTerminalColumns();
  showOnLine(line, statusLineText(progress, elapsed, columns > 1 ? columns - 1 : 1));
}

void eraseStatusLine(StatusLine& line) {
  if (line.shownUnits > 0) showOnLine(line, u"");
}
