#include "view/comparison_page.h"

#include <algorithm>

#include "platform/memory.h"
#include "view/encode.h"
#include "view/page_assets.h"
#include "view/page_parts.h"

namespace {

// The name of a row below another row of the same report: its path after the other's and a
// separator.
std::string_view nameBelow(std::string_view path, std::string_view parentPath, char separator) {
  std::string_view name = path.substr(std::min(parentPath.size(), path.size()));
  if (!name.empty() && name.front() == separator) name.remove_prefix(1);
  return name;
}

// A folder's name below its parent among the comparison's folders, in the new report's form.
void appendName(std::string& out, const Comparison& comparison, std::size_t index,
                const ViewReport& before, const ViewReport& after) {
  const FolderChange& change = comparison.folders[index];
  const FolderChange* parent = change.parent >= 0 ? &comparison.folders[change.parent] : nullptr;
  if (change.newRow >= 0) {
    std::string_view path = after.rows[change.newRow].path;
    if (parent) path = nameBelow(path, after.rows[parent->newRow].path, after.separator);
    appendShownJson(out, path, after.encoding);
    return;
  }
  if (!parent) {
    appendShownJson(out, changePath(comparison, index, before, after), TextEncoding::kUtf8);
    return;
  }
  // Below the parent's row in the old report, or below the old report's folder.
  std::string_view above =
      parent->oldRow >= 0 ? before.rows[parent->oldRow].path : std::string_view(comparison.oldRoot);
  std::string name(nameBelow(before.rows[change.oldRow].path, above, before.separator));
  std::replace(name.begin(), name.end(), before.separator, after.separator);
  appendShownJson(out, name, before.encoding);
}

int stateNumber(ChangeState state) {
  return static_cast<int>(state);
}

// [parent, name, old bytes or -1, new bytes or -1, state, bound, change, slack], the state and
// bound numbered in the order comparison.h declares them.
void appendComparisonData(std::string& out, const Comparison& comparison, const ViewReport& before,
                          const ViewReport& after, std::int64_t madeSeconds) {
  appendDataHead(out, after.separator, comparison.newRoot, after.encoding, madeSeconds);
  for (std::size_t i = 0; i < comparison.folders.size(); ++i) {
    const FolderChange& change = comparison.folders[i];
    if (i > 0) out += ",\n";
    out += '[';
    appendNumber(out, static_cast<std::int64_t>(change.parent));
    out += ',';
    appendName(out, comparison, i, before, after);
    for (auto [row, report] :
         {std::pair{change.oldRow, &before}, std::pair{change.newRow, &after}}) {
      out += ',';
      if (row >= 0) {
        appendNumber(out, report->rows[row].totalBytes);
      } else {
        out += "-1";
      }
    }
    out += ',';
    appendNumber(out, static_cast<std::int64_t>(stateNumber(change.state)));
    out += ',';
    appendNumber(out, static_cast<std::int64_t>(change.bound));
    out += ',';
    appendNumber(out, change.change);
    out += ',';
    appendNumber(out, change.slack);
    out += ']';
  }
  out += "]}";
}

// The newest stamp of the report not later than `madeSeconds`, as "YYYY-MM-DD hh:mm" and how
// many days before; empty when the report has none.
std::string reportAge(const ViewReport& report, std::int64_t madeSeconds) {
  const Stamp* newest = nullptr;
  for (const ReportRow& row : report.rows) {
    if (row.stamp.kind == Stamp::Kind::kTime && stampSeconds(row.stamp) <= madeSeconds &&
        (!newest || stampSeconds(row.stamp) > stampSeconds(*newest))) {
      newest = &row.stamp;
    }
  }
  if (!newest) return {};
  std::string when = isoStampText(*newest).substr(0, 16);
  when[10] = ' ';
  std::int64_t days = (madeSeconds - stampSeconds(*newest)) / 86400;
  return "Its newest file was written " + when + ", " +
         (days == 0 ? std::string("less than a day") : std::to_string(days) + " day(s)") +
         " before this page was made.";
}

void appendReportHeading(std::string& out, std::string_view label, std::string_view name,
                         const ViewReport& report, std::int64_t madeSeconds) {
  std::string shownName;
  appendShownHtml(shownName, name, TextEncoding::kUtf8);
  out += "<section class=\"report\"><h2>" + std::string(label) + ": " + shownName + "</h2>\n";
  out += "<p class=\"setting\">Generating stats for: ";
  appendShownHtml(out, report.folder, report.encoding);
  out += "</p>\n";
  for (const std::string& line : report.settingsLines) {
    out += "<p class=\"setting\">";
    appendShownHtml(out, line, report.encoding);
    out += "</p>\n";
  }
  if (std::string age = reportAge(report, madeSeconds); !age.empty()) {
    out += "<p class=\"setting\">" + age + "</p>\n";
  }
  out += readingNotes(report, shownName);
  out += "</section>\n";
}

}  // namespace

std::string comparisonPage(const Comparison& comparison, const ViewReport& before,
                           std::string_view oldName, const ViewReport& after,
                           std::string_view newName, std::int64_t madeSeconds) {
  std::string folder;
  appendShownHtml(folder, comparison.newRoot, after.encoding);
  std::string out = pageStart("Treemeter: what changed in " + folder);
  reserveInLargePages(out, kPageScript.size() + comparison.folders.size() * 64);
  out += "<header>\n<h1>What changed in " + folder + "</h1>\n<div class=\"reports\">\n";
  appendReportHeading(out, "Old report", oldName, before, madeSeconds);
  appendReportHeading(out, "New report", newName, after, madeSeconds);
  out += "</div>\n";
  for (const std::string& warning : comparison.warnings) {
    out += "<p class=\"note\">";
    appendHtmlText(out, shownText(warning));
    out += "</p>\n";
  }
  out += "</header>\n<section id=\"summary\"></section>\n";
  out += kMapAndTable;
  appendPageEnd(
      out,
      [&](std::string& data) {
        appendComparisonData(data, comparison, before, after, madeSeconds);
      },
      kComparisonScript);
  return out;
}
