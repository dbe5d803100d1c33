// What the two pages share: the document around their content, the treemap and the table, names
// as a page shows them, and the notes on how a report was read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "view/report_reader.h"

// The document up to its content: the head, with the page's style and its policy that it loads
// nothing from anywhere, and the opening of the body.
std::string pageStart(std::string_view title);

// The trail, the treemap (in a row where more can stand beside it), its legend and tooltip, and
// the table with its filter box.
extern const std::string_view kMapAndTable;

// The end of the document: the page's data as JSON, which `appendData(out)` appends, the script
// that shows it (the shared part and `script`), and the closing tags.
template <typename AppendData>
void appendPageEnd(std::string& out, AppendData appendData, std::string_view script);

void appendDataStart(std::string& out);
void appendScript(std::string& out, std::string_view script);

template <typename AppendData>
void appendPageEnd(std::string& out, AppendData appendData, std::string_view script) {
  appendDataStart(out);
  appendData(out);
  appendScript(out, script);
}

// The report's bytes as valid UTF-8 with invisible characters shown (shownText), as a JSON string
// or as HTML text.
void appendShownJson(std::string& out, std::string_view bytes, TextEncoding encoding);
void appendShownHtml(std::string& out, std::string_view bytes, TextEncoding encoding);

// Paragraphs on how the report was read: the order of day and month in its stamps, an end cut
// short, lines left out. `name` names the report in them ("This report", "before.tsv").
std::string readingNotes(const ViewReport& report, std::string_view name);

// A number as JSON.
void appendNumber(std::string& out, std::int64_t number);
void appendNumber(std::string& out, std::uint64_t number);

// The start of a page's data, which both pages share: the paths' separator, the folder, when the
// page was made, and the opening of its rows.
void appendDataHead(std::string& out, char separator, std::string_view folder,
                    TextEncoding encoding, std::int64_t madeSeconds);
