#include "view/page.h"

#include "view/encode.h"
#include "view/page_assets.h"

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
  out += '[' + std::to_string(parent) + ',';
  appendJsonString(out, utf8Text(name, report.encoding));
  for (std::uint64_t number : {row.totalBytes, row.bytesOnDisk, row.fileCount}) {
    out += ',' + std::to_string(number);
  }
  for (const std::string* text : {&row.totalText, &row.diskText, &row.stampText}) {
    out += ',';
    appendJsonString(out, utf8Text(*text, report.encoding));
  }
  out += ',' + std::to_string(stampKindNumber(row.stamp.kind));
  out += ',' +
         std::to_string(row.stamp.kind == Stamp::Kind::kUnreadable ? 0 : stampSeconds(row.stamp));
  out += ']';
}

std::string reportData(const ViewReport& report) {
  std::string out = "{\"separator\":";
  appendJsonString(out, std::string(1, report.separator));
  out += ",\"folder\":";
  appendJsonString(out, utf8Text(report.folder, report.encoding));
  out += ",\"rows\":[";
  std::vector<std::ptrdiff_t> parents = parentRows(report);
  for (std::size_t row = 0; row < report.rows.size(); ++row) {
    if (row > 0) out += ",\n";
    appendRowData(out, report, row, parents[row]);
  }
  out += "],\"errors\":[";
  for (const FolderError& error : report.errors) {
    if (&error != &report.errors.front()) out += ",\n";
    out += '[';
    appendJsonString(out, utf8Text(error.path, report.encoding));
    out += ',';
    appendJsonString(out, utf8Text(error.text, report.encoding));
    out += ']';
  }
  out += "]}";
  return out;
}

void appendNotes(std::string& out, const ViewReport& report) {
  if (report.truncated) {
    out +=
        "<p class=\"note\">This report ends early, as an interrupted scan leaves it: the "
        "folders after its last line are missing, and the sizes of the folders above them "
        "are unknown. The page shows what the report holds.</p>\n";
  }
  if (report.skippedLines > 0) {
    out += "<p class=\"note\">" + std::to_string(report.skippedLines) +
           " line(s) after the header were neither rows nor error lines and are left out.</p>\n";
  }
}

}  // namespace

std::string htmlPage(const ViewReport& report) {
  std::string folder;
  appendHtmlText(folder, report.folder.empty() ? std::string("A Treemeter report")
                                               : utf8Text(report.folder, report.encoding));
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Treemeter: " +
      folder + "</title>\n<style>\n";
  out += kPageStyle;
  out += "</style>\n</head>\n<body>\n<header>\n<h1>" + folder + "</h1>\n";
  for (const std::string& line : report.settingsLines) {
    out += "<p class=\"setting\">";
    appendHtmlText(out, utf8Text(line, report.encoding));
    out += "</p>\n";
  }
  appendNotes(out, report);
  out += R"(</header>
<nav id="trail" aria-label="Folders zoomed into"></nav>
<div id="map"></div>
<div id="legend"></div>
<div id="tip" hidden></div>
<h2>Folders</h2>
<p id="table-summary"></p>
<div class="scroller" id="table-box"><table id="rows">
<thead><tr><th data-key="path">path</th><th data-key="total" class="number">total size</th>
<th data-key="disk" class="number">size on disk</th><th data-key="count" class="number">file count</th>
<th data-key="stamp">latest file stamp</th></tr></thead>
<tbody></tbody></table></div>
<section id="errors-section" hidden><h2>Folders that could not be read</h2>
<div class="scroller" id="errors-box"><ul id="errors"></ul></div></section>
<noscript><p class="note">The treemap and the table need JavaScript.</p></noscript>
<script type="application/json" id="report-data">)";
  out += reportData(report);
  out += "</script>\n<script>\n";
  out += kPageScript;
  out += "</script>\n</body>\n</html>\n";
  return out;
}
