#include "report/rows.h"

#include "paths/paths.h"
#include "report/format.h"
#include "report/output.h"

bool rowPrinted = false;

std::u16string reportRowText(const std::u16string& path, std::uint64_t totalBytes,
                             std::uint64_t bytesOnDisk, std::uint64_t entryCount,
                             const std::u16string& stampText) {
  std::u16string row = path;
  row += u'\t';
  row += formatSizeBinary(totalBytes);
  row += u'\t';
  row += formatSizeDecimal(bytesOnDisk);
  row += u'\t';
  row += decimalText(entryCount);
  row += u'\t';
  row += stampText;
  row += u"\r\n";
  return row;
}

void printReportRow(const std::u16string& path, std::uint64_t totalBytes, std::uint64_t bytesOnDisk,
                    std::uint64_t entryCount, FileTime latestWrite) {
  writeText(reportRowText(path, totalBytes, bytesOnDisk, entryCount, formatStamp(latestWrite)));
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
