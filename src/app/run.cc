#include "app/run.h"

#include <chrono>
#include <vector>

#include "paths/paths.h"
#include "platform/console.h"
#include "platform/interrupts.h"
#include "platform/listing.h"
#include "platform/messages.h"
#include "report/format.h"
#include "report/output.h"
#include "scan/scan.h"

namespace {

// The exit statuses besides 0. A script must not take a report that holds nothing for a good one:
// one of a folder that could not be listed, or one cut short. Errors inside the tree keep 0, since
// a scan of a whole system always meets some and the report carries their lines.
constexpr int kFolderUnlistedStatus = 1;
constexpr int kReportLostStatus = 1;
// The command line was not taken: the usage text, as shells and their tools answer a wrong one.
constexpr int kUsageStatus = 2;
// How long the writer waits for report lines before it looks at the status line and for an
// interrupt again.
constexpr auto kWriterLookInterval = std::chrono::milliseconds(20);
// How often a report that goes to a file or a pipe is handed to the system at the least: a user
// who interrupts a scan, or follows the file as it grows, has it no more than a second late.
constexpr auto kHandOverInterval = std::chrono::seconds(1);

void printBanner(ReportOutput& output) {
  writeText(output, u"Treemeter v2.0 -- (c) ");
  writeText(output, decimalText(static_cast<std::uint64_t>(currentLocalYear())));
  writeText(output, u" the Treemeter developers. Reads folder listings only; changes nothing.\r\n");
}

void printUsage(ReportOutput& output) {
  writeText(output, u"\r\n\r\n");
  writeText(
      output,
      u"This program counts total bytes inside a folder and produces a report. Only folders of a "
      u"certain size are listed.\r\n\r\n");
  writeText(
      output,
      u"Usage: Treemeter.exe [process reparse points (yes/no)] [size] [include last N days (0 = "
      u"all)] [max reporting depth (0 = no limit)] [folder]\r\n");
  writeText(output, u"Example: Treemeter.exe yes 3GB 0 0 \"C:\\Windows\"\r\n");
  writeText(
      output,
      u"Or: Treemeter.exe no 2MB 12 0 \"C:\\Windows\" >c:\\temp\\folderreports.txt\r\nThe above "
      u"example command counts files of the last 12 days and reports folders larger than 2MB. The "
      u"output is redirected to a text file.\r\n");
  writeText(
      output,
      u"Size may be entered in bytes, KB, MB, GB, and TB, but not in fractions. For example: 239, "
      u"1025MB, 2TB\r\n");
  writeText(
      output,
      u"The report lists folder name, total size, total number of files and folders counted, and "
      u"the most recent write time stamp encountered\r\n");
  writeText(output, u"\r\n");
  writeText(output,
            u"Treemeter is free software of the Treemeter developers, under the MIT licence.\r\n");
  writeText(output, kManualPointer);
  writeText(output, u"\r\n");
}

void printSettings(ReportOutput& output, const RunSettings& settings) {
  // Shown as the rows show it: a line end in the argument would move the header, and the last row
  // would no longer name the same folder.
  std::u16string folderLine = u"Generating stats for: ";
  appendShownPath(folderLine, settings.folderArg);
  folderLine += u"\r\n";
  writeText(output, folderLine);
  writeText(output, u"Report includes folders equal or greater than ");
  writeText(output, formatSizeBinary(static_cast<std::uint64_t>(settings.minSize)));
  writeText(output, u"\r\n");
  if (settings.dayCutoff == 0) {
    writeText(output, u"No time filter specified\r\n");
    return;
  }
  // A cut-off whose local date cannot be formed gets no line; the filter still applies.
  std::u16string stamp = formatStamp(settings.dayCutoff);
  if (stamp.empty()) return;
  writeText(output, u"Treemeter counts files written on or after: ");
  writeText(output, stamp);
  writeText(output, u"\r\n");
}

// Says on standard error why the report is incomplete: a user who redirected it to a file would
// otherwise have only the exit status to go by.
void reportLostOutput(std::uint32_t errorCode) {
  std::u16string message = systemMessageText(errorCode);
  while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r')) {
    message.pop_back();
  }
  std::string line = "treemeter: cannot write the report: " + outputBytes(message);
  line += kDiagnosticLineEnd;
  writeStandardError(line);
}

// Writes the lines the scan made known, each with its path formed from the one before, with the
// status line out of their way until its next drawing is due; false once the report can no longer
// be written.
bool writeReportLines(ReportWriter& writer, PathFormer& paths,
                      const std::vector<ReportLine>& lines) {
  if (writer.status.sharesWithReport && !lines.empty()) eraseStatusLine(writer.status);
  for (const ReportLine& line : lines) {
    const std::u16string& path = formPath(paths, line.folder);
    if (line.isError) {
      printFolderError(writer, path, line.errorCode);
    } else {
      printReportRow(writer, toDisplayPath(path.c_str()),
                     static_cast<std::uint64_t>(line.totals.totalBytes),
                     static_cast<std::uint64_t>(line.totals.bytesOnDisk), line.totals.entryCount,
                     line.totals.latestWrite);
    }
  }
  return writer.output.failure == 0;
}

// Draws the status line when it is due, from what the scan has counted.
void showProgress(Scan& scan, StatusLine& status, std::chrono::steady_clock::time_point now) {
  if (statusLineDue(status, now)) drawStatusLine(status, progressOf(scan), now);
}

// The run was interrupted: the scan stops, and the lines taken in the pass that saw the interrupt
// and those its listed folders make known are written and handed to the system; the run ends as
// the interrupt would have ended it.
[[noreturn]] void endInterrupted(Scan& scan, ReportWriter& writer, PathFormer& paths,
                                 std::vector<ReportLine>& lines, int interrupt) {
  stopScan(scan, lines);
  writeReportLines(writer, paths, lines);
  flushOutput(writer.output);
  eraseStatusLine(writer.status);
  endAsInterrupted(interrupt);
}

// Writes the report's lines as the scan makes them known; false once it can no longer be written.
bool writeScanReport(Scan& scan, ReportWriter& writer, const RunSources& sources) {
  std::vector<ReportLine> lines;
  PathFormer paths;
  auto handedOverAt = sources.now();
  while (takeReportLines(scan, lines, kWriterLookInterval)) {
    if (int interrupt = interruptNoted()) endInterrupted(scan, writer, paths, lines, interrupt);
    if (!writeReportLines(writer, paths, lines)) return false;
    lines.clear();
    auto now = sources.now();
    if (now - handedOverAt >= kHandOverInterval) {
      if (!flushOutput(writer.output)) return false;
      handedOverAt = now;
    }
    showProgress(scan, writer.status, now);
  }
  return true;
}

}  // namespace

bool runReport(const RunSettings& settings, ReportWriter& writer, const RunSources& sources) {
  std::u16string rootPath = toExtendedPath(settings.folderArg.c_str());
  const ScanRules rules = {settings.processReparsePoints, settings.minSize, settings.dayCutoff,
                           settings.maxDepth};
  prepareListing(sources.listing, rootPath);
  ScanPtr scan = startScan(rules, rootPath, sources.listing, sources.listers);
  bool whole = writeScanReport(*scan, writer, sources);
  eraseStatusLine(writer.status);
  // A report cut short is lost whatever became of the folder: its own status says so.
  if (!whole) return true;
  if (!writer.rowPrinted) {
    FolderTotals rootTotals = treeTotals(*scan);
    printReportRow(writer, settings.folderArg, static_cast<std::uint64_t>(rootTotals.totalBytes),
                   static_cast<std::uint64_t>(rootTotals.bytesOnDisk), rootTotals.entryCount,
                   rootTotals.latestWrite);
  }
  return topFolderListed(*scan);
}

int runTreemeter(const std::vector<std::u16string>& arguments, const RunSources& sources) {
  ReportOutput output;
  printBanner(output);
  RunSettings settings;
  int status = 0;
  if (!readSettings(arguments, settings)) {
    printUsage(output);
    status = kUsageStatus;
  } else {
    printSettings(output, settings);
    writeText(output, u"path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n");
    // A report that cannot be written is lost from the first failed write: scanning on would
    // report nothing, and a status of 0 would call it whole.
    if (output.failure == 0) {
      ReportWriter writer(output);
      writer.status = makeStatusLine(sources.now());
      if (!runReport(settings, writer, sources)) status = kFolderUnlistedStatus;
    }
  }
  if (!flushOutput(output)) {
    // A reader that went away chose to stop: nothing is said.
    if (isReaderGone(output.failure)) endAsReaderGone();
    reportLostOutput(output.failure);
    return kReportLostStatus;
  }
  // An interrupt that came as the report ended still ends the run as it would have.
  if (int interrupt = interruptNoted()) endAsInterrupted(interrupt);
  return status;
}
