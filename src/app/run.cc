#include "app/run.h"

#include "paths/paths.h"
#include "report/format.h"
#include "report/output.h"
#include "report/rows.h"
#include "scan/scan.h"

namespace {

void printBanner() {
  writeText(u"Treemeter v2.0 -- (c) ");
  writeText(decimalText(static_cast<std::uint64_t>(currentLocalYear())));
  writeText(u" the Treemeter developers. Reads folder listings only; changes nothing.\r\n");
}

void printUsage() {
  writeText(u"\r\n\r\n");
  writeText(
      u"This program counts total bytes inside a folder and produces a report. Only folders of a "
      u"certain size are listed.\r\n\r\n");
  writeText(
      u"Usage: Treemeter.exe [process reparse points (yes/no)] [size] [include last N days (0 = "
      u"all)] [max reporting depth (0 = no limit)] [folder]\r\n");
  writeText(u"Example: Treemeter.exe yes 3GB 0 0 \"C:\\Windows\"\r\n");
  writeText(
      u"Or: Treemeter.exe no 2MB 12 0 \"C:\\Windows\" >c:\\temp\\folderreports.txt\r\nThe above "
      u"example command counts files of the last 12 days and reports folders larger than 2MB. The "
      u"output is redirected to a text file.\r\n");
  writeText(
      u"Size may be entered in bytes, KB, MB, GB, and TB, but not in fractions. For example: 239, "
      u"1025MB, 2TB\r\n");
  writeText(
      u"The report lists folder name, total size, total number of files and folders counted, and "
      u"the most recent write time stamp encountered\r\n");
  writeText(u"\r\n");
  writeText(u"Treemeter is free software of the Treemeter developers, under the MIT licence.\r\n");
  writeText(u"Read more in its manual page: man treemeter (in the source: man/treemeter.1).\r\n");
}

void printSettings(const RunSettings& settings) {
  writeText(u"Generating stats for: ");
  writeText(settings.folderArg);
  writeText(u"\r\n");
  writeText(u"Report includes folders equal or greater than ");
  writeText(formatSizeBinary(static_cast<std::uint64_t>(settings.minSize)));
  writeText(u"\r\n");
  if (settings.dayCutoff == 0) {
    writeText(u"No time filter specified\r\n");
    return;
  }
  // A cut-off whose local date cannot be formed gets no line; the filter still applies.
  std::u16string stamp = formatStamp(settings.dayCutoff);
  if (stamp.empty()) return;
  writeText(u"Treemeter counts files written on or after: ");
  writeText(stamp);
  writeText(u"\r\n");
}

}  // namespace

void runReport(const RunSettings& settings) {
  std::u16string rootPath = toExtendedPath(settings.folderArg.c_str());
  FolderTotals rootTotals;
  std::int32_t scanDepth = 0;
  scanFolder(settings.processReparsePoints, rootPath, settings.minSize, rootTotals,
             settings.dayCutoff, settings.maxDepth, scanDepth);
  if (!rowPrinted) {
    printReportRow(settings.folderArg, static_cast<std::uint64_t>(rootTotals.totalBytes),
                   static_cast<std::uint64_t>(rootTotals.bytesOnDisk), rootTotals.entryCount,
                   rootTotals.latestWrite);
  }
}

int runTreemeter(const std::vector<std::u16string>& arguments) {
  printBanner();
  RunSettings settings;
  if (!readSettings(arguments, settings)) {
    printUsage();
  } else {
    printSettings(settings);
    writeText(u"path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n");
    runReport(settings);
  }
  flushOutput();
  return 0;
}
