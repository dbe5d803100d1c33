#include "view/csv.h"

#include "platform/memory.h"
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

void appendHeader(std::string& out, std::initializer_list<const char*> headings) {
  for (const char* heading : headings) {
    if (heading != *headings.begin()) out += ',';
    appendCsvField(out, heading);
  }
  out += "\r\n";
}

}  // namespace

std::string csvTable(const ViewReport& report) {
  std::string out;
  reserveInLargePages(out, report.text->size());
  appendHeader(out, {"path", "total size (bytes, from the report's 3 decimals)",
                     "size on disk (bytes, from the report's 3 decimals)", "file count",
                     "latest file stamp", "error"});
  auto error = report.errors.begin();
  for (std::size_t row = 0; row <= report.rows.size(); ++row) {
    for (; error != report.errors.end() && error->rowsBefore == row; ++error) {
      appendError(out, report, *error);
    }
    if (row < report.rows.size()) appendRow(out, report, report.rows[row]);
  }
  return out;
}

std::string csvChanges(const Comparison& comparison, const ViewReport& before,
                       const ViewReport& after) {
  std::string out;
  reserveInLargePages(out, comparison.folders.size() * 96);
  appendHeader(out, {"path", "old total size (bytes, from the report's 3 decimals)",
                     "new total size (bytes, from the report's 3 decimals)",
                     "change (bytes, new less old)", "state"});
  for (std::size_t i = 0; i < comparison.folders.size(); ++i) {
    const FolderChange& change = comparison.folders[i];
    appendCsvField(out, changePath(comparison, i, before, after));
    out += ',';
    if (change.oldRow >= 0) out += std::to_string(before.rows[change.oldRow].totalBytes);
    out += ',';
    if (change.newRow >= 0) out += std::to_string(after.rows[change.newRow].totalBytes);
    out += ',';
    if (change.bound == ChangeBound::kExact) out += std::to_string(change.change);
    out += ',';
    appendCsvField(out, stateName(change.state));
    out += "\r\n";
  }
  return out;
}
