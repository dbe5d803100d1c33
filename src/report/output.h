// The one output stream of the tool: every line goes through here, in program order.
#pragma once

#include <string_view>

// Writes text to standard output, one byte a code unit: U+0000 to U+00FF as that byte, any other
// unit as "?". Lines are flushed as they end when standard output is a terminal.
void writeText(std::u16string_view text);

// Hands everything buffered to standard output.
void flushOutput();
