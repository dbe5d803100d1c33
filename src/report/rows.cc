#include "report/rows.h"

#include "paths/paths.h"
#include "report/format.h"
#include "report/output.h"

bool rowPrinted = false;

namespace {

// The columns before the stamp, each followed by its tab.
void appendLeadingColumns(std::u16string& row, std::u16string_view path, std::uint64_t totalBytes,
                          std::uint64_t bytesOnDisk, std::uint64_t entryCount) {
  row += path;
  row += u'\t';
  appendSizeBinary(row, totalBytes);
  row += u'\t';
  appendSizeDecimal(row, bytesOnDisk);
  row += u'\t';
  appendDecimal(row, entryCount);
  row += u'\t';
}

}  // namespace

std::u16string reportRowText(const std::u16string& path, std::uint64_t totalBytes,
                             std::uint64_t bytesOnDisk, std::uint64_t entryCount,
                             const std::u16string& stampText) {
  std::u16string row;
  appendLeadingColumns(row, path, totalBytes, bytesOnDisk, entryCount);
  row += stampText;
  row += u"\r\n";
  return row;
}

void printReportRow(std::u16string_view path, std::uint64_t totalBytes, std::uint64_t bytesOnDisk,
                    std::uint64_t entryCount, FileTime latestWrite) {
  // Kept from row to row: once it has grown to the longest row, a row allocates nothing.
  static std::u16string row;
  row.clear();
  appendLeadingColumns(row, path, totalBytes, bytesOnDisk, entryCount);
  appendStamp(row, latestWrite);
  row += u"\r\n";
  writeText(row);
  rowPrinted = true;
}

std::u16string systemErrorText(std::uint32_t errorCode) {
  std::u16string message = systemMessageText(errorCode);
  if (message.empty()) return message;
  // The code shows as a signed 32-bit number, as the system's own tools show it.
  return formatText(u"(%d): ", {numberArgument(static_cast<std::int32_t>(errorCode))}) + message;
}

void printFolderError(const std::u16string& folderPath, std::uint32_t errorCode) {
  std::u16string errorText = systemErrorText(errorCode);
  writeText(u"Error accessing folder: ");
  writeText(toDisplayPath(folderPath.c_str()));
  writeText(u": ");
  writeText(errorText);
  writeText(u"\r\n");
}
