#include "view/page_parts.h"

#include <charconv>

#include "view/encode.h"
#include "view/page_assets.h"

namespace {

bool isPlainText(std::string_view bytes) {
  for (char c : bytes) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

std::string shownUtf8(std::string_view bytes, TextEncoding encoding) {
  return shownText(utf8Text(bytes, encoding));
}

std::string_view orderName(DateOrder order) {
  switch (order) {
    case DateOrder::kDayMonthYear:
      return "day/month/year";
    case DateOrder::kMonthDayYear:
      return "month/day/year";
    case DateOrder::kYearMonthDay:
      break;
  }
  return "year/month/day";
}

void appendParagraph(std::string& out, std::string_view className, std::string_view html) {
  out += "<p class=\"";
  out += className;
  out += "\">";
  out += html;
  out += "</p>\n";
}

}  // namespace

const std::string_view kMapAndTable = R"(<nav id="trail" aria-label="Folders zoomed into"></nav>
<div id="map-row"><div id="map"></div></div>
<div id="legend"></div>
<div id="tip" hidden></div>
<h2>Folders</h2>
<p><label>Filter by path: <input type="search" id="filter" autocomplete="off"></label></p>
<p id="table-summary"></p>
<div class="scroller" id="table-box"><table id="rows"><thead><tr></tr></thead><tbody></tbody>
</table></div>
)";

std::string pageStart(std::string_view title) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  out += title;
  out += "</title>\n<style>\n";
  out += kPageStyle;
  out += "</style>\n</head>\n<body>\n";
  return out;
}

void appendDataStart(std::string& out) {
  out +=
      "<noscript><p class=\"note\">The treemap and the table need JavaScript.</p></noscript>\n"
      "<script type=\"application/json\" id=\"page-data\">";
}

void appendScript(std::string& out, std::string_view script) {
  out += "</script>\n<script>\n(function() {\n'use strict';\n";
  out += kPageScript;
  out += script;
  out += "})();\n</script>\n</body>\n</html>\n";
}

void appendShownJson(std::string& out, std::string_view bytes, TextEncoding encoding) {
  // Most names need neither decoding nor showing: they go as they are.
  if (isPlainText(bytes)) {
    appendJsonString(out, bytes);
  } else {
    appendJsonString(out, shownUtf8(bytes, encoding));
  }
}

void appendShownHtml(std::string& out, std::string_view bytes, TextEncoding encoding) {
  appendHtmlText(out, shownUtf8(bytes, encoding));
}

std::string readingNotes(const ViewReport& report, std::string_view name) {
  std::string out;
  std::string order(orderName(report.dateOrder));
  switch (report.dateOrderBasis) {
    case DateOrderBasis::kStamps: {
      std::string witness;
      appendShownHtml(witness, report.orderWitness, report.encoding);
      appendParagraph(out, "setting",
                      std::string(name) + "'s stamps are read as " + order + ", as its stamp \"" +
                          witness + "\" shows.");
      break;
    }
    case DateOrderBasis::kStated:
      appendParagraph(out, "setting",
                      std::string(name) + "'s stamps all fit more than one order of day and " +
                          "month; they are read as " + order + ", as --date-order states.");
      break;
    case DateOrderBasis::kLocale:
    case DateOrderBasis::kUsual:
      appendParagraph(out, "note",
                      std::string(name) + "'s stamps all fit more than one order of day and " +
                          "month; they are read as " + order +
                          (report.dateOrderBasis == DateOrderBasis::kLocale
                               ? ", the order of this computer's locale"
                               : ", since they do not fit the order of this computer's locale") +
                          ". treemeter-view --date-order dmy, mdy or ymd states the order.");
      break;
    case DateOrderBasis::kConflict:
      appendParagraph(out, "note",
                      std::string(name) + "'s stamps fit no one order of day and month, so none " +
                          "is read as a date: they are shown as written, and grey in the map.");
      break;
    case DateOrderBasis::kNoDates:
      break;
  }
  if (report.truncated) {
    appendParagraph(out, "note",
                    std::string(name) + " ends early, as an interrupted scan leaves it: the " +
                        "folders after its last line are missing, and the sizes of the folders " +
                        "above them are unknown. The page shows what the report holds.");
  }
  if (report.skippedLines > 0) {
    appendParagraph(out, "note",
                    std::to_string(report.skippedLines) + " line(s) of " + std::string(name) +
                        " after the header were neither rows nor error lines and are left out.");
  }
  return out;
}

void appendNumber(std::string& out, std::int64_t number) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
}

void appendNumber(std::string& out, std::uint64_t number) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
}

void appendDataHead(std::string& out, char separator, std::string_view folder,
                    TextEncoding encoding, std::int64_t madeSeconds) {
  out += "{\"separator\":";
  appendJsonString(out, std::string(1, separator));
  out += ",\"folder\":";
  appendShownJson(out, folder, encoding);
  out += ",\"made\":";
  appendNumber(out, madeSeconds);
  out += ",\"rows\":[";
}
