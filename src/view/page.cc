#include "view/page.h"

#include "platform/memory.h"
#include "view/encode.h"
#include "view/page_assets.h"
#include "view/page_parts.h"

namespace {

// The name of a row below its parent row: its path after the parent's and a separator. A row
// with no parent keeps its whole path.
std::string_view nameBelow(std::string_view path, std::string_view parentPath, char separator) {
  std::string_view name = path.substr(parentPath.size());
  if (!name.empty() && name.front() == separator) name.remove_prefix(1);
  return name;
}

int stampKindNumber(Stamp::Kind kind) {
  switch (kind) {
    case Stamp::Kind::kTime:
      return 0;
    case Stamp::Kind::kNoFiles:
      return 1;
    case Stamp::Kind::kUnreadable:
      break;
  }
  return 2;
}

// One row for the script: [parent, name, total bytes, bytes on disk, file count, total size text,
// size on disk text, stamp text, stamp kind (0 a time, 1 no files, 2 not understood), stamp
// seconds].
void appendRowData(std::string& out, const ViewReport& report, std::size_t index,
                   std::ptrdiff_t parent) {
  const ReportRow& row = report.rows[index];
  std::string_view name = row.path;
  if (parent >= 0) name = nameBelow(row.path, report.rows[parent].path, report.separator);
  out += '[';
  appendNumber(out, static_cast<std::int64_t>(parent));
  out += ',';
  appendShownJson(out, name, report.encoding);
  for (std::uint64_t number : {row.totalBytes, row.bytesOnDisk, row.fileCount}) {
    out += ',';
    appendNumber(out, number);
  }
  for (std::string_view text : {row.totalText, row.diskText, row.stampText}) {
    out += ',';
    appendShownJson(out, text, report.encoding);
  }
  out += ',';
  appendNumber(out, static_cast<std::int64_t>(stampKindNumber(row.stamp.kind)));
  out += ',';
  appendNumber(out, row.stamp.kind == Stamp::Kind::kUnreadable ? 0 : stampSeconds(row.stamp));
  out += ']';
}

void appendReportData(std::string& out, const ViewReport& report, std::int64_t madeSeconds) {
  appendDataHead(out, report.separator, report.folder, report.encoding, madeSeconds);
  std::vector<std::ptrdiff_t> parents = parentRows(report);
  for (std::size_t row = 0; row < report.rows.size(); ++row) {
    if (row > 0) out += ",\n";
    appendRowData(out, report, row, parents[row]);
  }
  out += "],\"errors\":[";
  for (const FolderError& error : report.errors) {
    if (&error != &report.errors.front()) out += ",\n";
    out += '[';
    appendShownJson(out, error.path, report.encoding);
    out += ',';
    appendShownJson(out, error.text, report.encoding);
    out += ']';
  }
  out += "]}";
}

}  // namespace

std::string htmlPage(const ViewReport& report, std::int64_t madeSeconds) {
  std::string folder;
  if (report.folder.empty()) {
    folder = "A Treemeter report";
  } else {
    appendShownHtml(folder, report.folder, report.encoding);
  }
  std::string out = pageStart("Treemeter: " + folder);
  reserveInLargePages(out, kPageScript.size() + report.text->size() * 3 / 2);
  out += "<header>\n<h1>" + folder + "</h1>\n";
  for (const std::string& line : report.settingsLines) {
    out += "<p class=\"setting\">";
    appendShownHtml(out, line, report.encoding);
    out += "</p>\n";
  }
  out += readingNotes(report, "This report");
  out += "</header>\n";
  out += kMapAndTable;
  out +=
      "<section id=\"errors-section\" hidden><h2>Folders that could not be read</h2>\n"
      "<div class=\"scroller\" id=\"errors-box\"><ul id=\"errors\"></ul></div></section>\n";
  appendPageEnd(
      out, [&](std::string& data) { appendReportData(data, report, madeSeconds); }, kReportScript);
  return out;
}
