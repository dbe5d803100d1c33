#include "view/csv.h"

#include "view/encode.h"

namespace {

void appendError(std::string& out, const ViewReport& report, const FolderError& error) {
  appendCsvField(out, utf8Text(error.path, report.encoding));
  out += ",,,,,";
  appendCsvField(out, utf8Text(error.text.empty() ? "no message" : error.text, report.encoding));
  out += "\r\n";
}

void appendRow(std::string& out, const ViewReport& report, const ReportRow& row) {
  appendCsvField(out, utf8Text(row.path, report.encoding));
  for (std::uint64_t number : {row.totalBytes, row.bytesOnDisk, row.fileCount}) {
    out += ',';
    out += std::to_string(number);
  }
  out += ',';
  std::string iso = isoStampText(row.stamp);
  appendCsvField(out, iso.empty() ? utf8Text(row.stampText, report.encoding) : iso);
  out += ",\r\n";
}

}  // namespace

std::string csvTable(const ViewReport& report) {
  std::string out;
  for (const char* heading : {"path", "total size (bytes, from the report's 3 decimals)",
                              "size on disk (bytes, from the report's 3 decimals)", "file count",
                              "latest file stamp", "error"}) {
    if (!out.empty()) out += ',';
    appendCsvField(out, heading);
  }
  out += "\r\n";
  auto error = report.errors.begin();
  for (std::size_t row = 0; row <= report.rows.size(); ++row) {
    for (; error != report.errors.end() && error->rowsBefore == row; ++error) {
      appendError(out, report, *error);
    }
    if (row < report.rows.size()) appendRow(out, report, report.rows[row]);
  }
  return out;
}
