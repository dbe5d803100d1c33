#include "app/run.h"

#include "paths/paths.h"
#include "platform/console.h"
#include "platform/messages.h"
#include "report/format.h"
#include "report/output.h"
#include "scan/scan.h"

namespace {

// The exit status of a run whose report could not be written whole.
constexpr int kReportLostStatus = 1;

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
  writeText(output, u"Generating stats for: ");
  writeText(output, settings.folderArg);
  writeText(output, u"\r\n");
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

}  // namespace

void runReport(const RunSettings& settings, ReportWriter& writer, std::size_t workers) {
  std::u16string rootPath = toExtendedPath(settings.folderArg.c_str());
  const ScanRules rules = {settings.processReparsePoints, settings.minSize, settings.dayCutoff,
                           settings.maxDepth};
  FolderTotals rootTotals = scanFolder(rules, rootPath, writer, workers);
  if (!writer.rowPrinted) {
    printReportRow(writer, settings.folderArg, static_cast<std::uint64_t>(rootTotals.totalBytes),
                   static_cast<std::uint64_t>(rootTotals.bytesOnDisk), rootTotals.entryCount,
                   rootTotals.latestWrite);
  }
}

int runTreemeter(const std::vector<std::u16string>& arguments, std::size_t workers) {
  ReportOutput output;
  printBanner(output);
  RunSettings settings;
  if (!readSettings(arguments, settings)) {
    printUsage(output);
  } else {
    printSettings(output, settings);
    writeText(output, u"path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n");
    // A report that cannot be written is lost from the first failed write: scanning on would
    // report nothing, and a status of 0 would call it whole.
    if (output.failure == 0) {
      ReportWriter writer(output);
      writer.status = makeStatusLine();
      runReport(settings, writer, workers);
    }
  }
  if (!flushOutput(output)) {
    reportLostOutput(output.failure);
    return kReportLostStatus;
  }
  return 0;
}
