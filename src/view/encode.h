// The report's texts as the viewer writes them: UTF-8, and inside that, HTML text, JSON strings
// and CSV fields. Every function here takes valid UTF-8 except utf8Text, which makes it.
#pragma once

#include <string>
#include <string_view>

#include "view/report_reader.h"

// The report's bytes as valid UTF-8: in a Latin-1 report each byte is its character; in a UTF-8
// report each byte that is not part of a well-formed sequence becomes U+FFFD.
std::string utf8Text(std::string_view bytes, TextEncoding encoding);

// UTF-16 text (without its byte order mark) as UTF-8; a unit that is no character (an unpaired
// surrogate, an odd last byte) becomes U+FFFD.
std::string utf8FromUtf16(std::string_view bytes, bool bigEndian);

bool isWellFormedUtf8(std::string_view text);
bool isAscii(std::string_view text);

// Valid UTF-8 as a page shows it: a character that would be invisible or would reorder the text
// around it (control characters, bidirectional and other format characters, fillers) is written
// as its code, such as "‹U+202E›", so that a name looks like what it is.
std::string shownText(std::string_view text);

// Text that can stand anywhere in HTML, an attribute's value included: & < > " ' as references,
// and control characters, which HTML does not allow, as U+FFFD.
void appendHtmlText(std::string& out, std::string_view text);

// A JSON string, quotes included, that can also stand inside an HTML script element: besides
// what JSON requires, < > & and the line and paragraph separators U+2028 and U+2029 are written
// as \u escapes, so no text can end the element or the script.
void appendJsonString(std::string& out, std::string_view text);

// One CSV field by RFC 4180: in double quotes, with each quote doubled, when it holds a comma, a
// quote, a carriage return or a line feed; as it is otherwise.
void appendCsvField(std::string& out, std::string_view text);
