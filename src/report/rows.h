// The lines the report is made of, after the header: a row for each folder and an error line for
// each folder that cannot be listed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "report/format.h"
#include "report/output.h"
#include "report/status_line.h"

// Writes rows and error lines into the report, and keeps the status line out of their way. One
// writer serves one run: the run writes through it the lines it takes from the scan, and reads
// rowPrinted afterwards.
struct ReportWriter {
  explicit ReportWriter(ReportOutput& reportOutput) : output(reportOutput) {}
  ReportOutput& output;
  // False until the first row is printed; the run prints the row for the folder argument itself
  // when the scan printed none.
  bool rowPrinted = false;
  // The line being written, kept from line to line: once it has grown to the longest, a row
  // allocates nothing.
  std::u16string row;
  StampTexts stamps;
  StatusLine status;  // drawn only once the run asks for it
};

// The row's text: path, total size, size on disk, entry count and the stamp text, tab-separated,
// ending in CR LF. An empty stamp text still gets its column.
std::u16string reportRowText(const std::u16string& path, std::uint64_t totalBytes,
                             std::uint64_t bytesOnDisk, std::uint64_t entryCount,
                             const std::u16string& stampText);

// Writes the row of a folder, with the stamp text of its latest write.
void printReportRow(ReportWriter& writer, std::u16string_view path, std::uint64_t totalBytes,
                    std::uint64_t bytesOnDisk, std::uint64_t entryCount, FileTime latestWrite);

// "(code): " and the system's message for the code; empty when the system has none.
std::u16string systemErrorText(std::uint32_t errorCode);

// "Error accessing folder: ", the folder's display path, ": ", the error text and CR LF.
void printFolderError(ReportWriter& writer, const std::u16string& folderPath,
                      std::uint32_t errorCode);
