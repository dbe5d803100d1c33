#include "report/rows.h"

#include "paths/paths.h"
#include "platform/messages.h"
#include "report/format.h"

namespace {

// The columns before the stamp, each followed by its tab.
void appendLeadingColumns(std::u16string& row, std::u16string_view path, std::uint64_t totalBytes,
                          std::uint64_t bytesOnDisk, std::uint64_t entryCount) {
  appendShownPath(row, path);
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

void printReportRow(ReportWriter& writer, std::u16string_view path, std::uint64_t totalBytes,
                    std::uint64_t bytesOnDisk, std::uint64_t entryCount, FileTime latestWrite) {
  writer.row.clear();
  appendLeadingColumns(writer.row, path, totalBytes, bytesOnDisk, entryCount);
  appendStamp(writer.row, latestWrite, writer.stamps);
  writer.row += u"\r\n";
  writeText(writer.output, writer.row);
  writer.rowPrinted = true;
}

std::u16string systemErrorText(std::uint32_t errorCode) {
  std::u16string message = systemMessageText(errorCode);
  if (message.empty()) return message;
  // The code shows as a signed 32-bit number, as the system's own tools show it.
  return formatText(u"(%d): ", {numberArgument(static_cast<std::int32_t>(errorCode))}) + message;
}

void printFolderError(ReportWriter& writer, const std::u16string& folderPath,
                      std::uint32_t errorCode) {
  writer.row = u"Error accessing folder: ";
  appendShownPath(writer.row, toDisplayPath(folderPath.c_str()));
  writer.row += u": ";
  writer.row += systemErrorText(errorCode);
  writer.row += u"\r\n";
  writeText(writer.output, writer.row);
}
