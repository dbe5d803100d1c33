#include "view/encode.h"

#include <cstdint>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

void appendUtf8(std::string& out, std::uint32_t character) {
  if (character < 0x80) {
    out += static_cast<char>(character);
  } else if (character < 0x800) {
    out += static_cast<char>(0xC0 | character >> 6);
    out += static_cast<char>(0x80 | (character & 0x3F));
  } else if (character < 0x10000) {
    out += static_cast<char>(0xE0 | character >> 12);
    out += static_cast<char>(0x80 | (character >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (character & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | character >> 18);
    out += static_cast<char>(0x80 | (character >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (character >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (character & 0x3F));
  }
}

// How many bytes of `text` from `at` form one well-formed UTF-8 sequence; 0 when none does.
// The second byte's range excludes overlong forms, surrogates and values beyond U+10FFFF.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  unsigned char low = 0x80, high = 0xBF;
  if (lead < 0xC2 || lead > 0xF4) return 0;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

bool isControl(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F;
}

// The character of a well-formed sequence of `length` bytes.
std::uint32_t decodedCharacter(std::string_view text, std::size_t at, std::size_t length) {
  auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(text[at + i]) & 0xFF; };
  if (length == 1) return byte(0);
  std::uint32_t character = byte(0) & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) character = character << 6 | (byte(i) & 0x3F);
  return character;
}

// Characters that show nothing, or change how the text around them is shown: controls (C0, DEL,
// C1), the format characters (Unicode's category Cf: bidirectional embeddings, overrides,
// isolates and marks, joiners, the byte order mark...), the combining grapheme joiner and the
// Hangul fillers.
bool isInvisible(std::uint32_t c) {
  struct Range {
    std::uint32_t first, last;
  };
  static constexpr Range kInvisible[] = {
      {0x0000, 0x001F},   {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x034F, 0x034F},
      {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
      {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x115F, 0x1160},   {0x180E, 0x180E},
      {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
      {0x3164, 0x3164},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},   {0xFFF9, 0xFFFB},
      {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
      {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
  };
  for (const Range& range : kInvisible) {
    if (c >= range.first && c <= range.last) return true;
  }
  return false;
}

}  // namespace

std::string utf8Text(std::string_view bytes, TextEncoding encoding) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    if (encoding == TextEncoding::kLatin1) {
      appendUtf8(out, static_cast<unsigned char>(bytes[at++]));
    } else if (std::size_t length = sequenceLength(bytes, at); length > 0) {
      out.append(bytes, at, length);
      at += length;
    } else {
      out += kReplacement;
      ++at;
    }
  }
  return out;
}

std::string utf8FromUtf16(std::string_view bytes, bool bigEndian) {
  auto unitAt = [&](std::size_t at) -> std::uint32_t {
    auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(bytes[i]) & 0xFF; };
    return bigEndian ? byte(at) << 8 | byte(at + 1) : byte(at + 1) << 8 | byte(at);
  };
  std::string out;
  out.reserve(bytes.size() / 2);
  std::size_t at = 0;
  for (; at + 1 < bytes.size(); at += 2) {
    std::uint32_t unit = unitAt(at);
    bool lead = unit >= 0xD800 && unit <= 0xDBFF;
    std::uint32_t next = at + 3 < bytes.size() ? unitAt(at + 2) : 0;
    if (lead && next >= 0xDC00 && next <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
      at += 2;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out += kReplacement;
    } else {
      appendUtf8(out, unit);
    }
  }
  if (at < bytes.size()) out += kReplacement;
  return out;
}

bool isWellFormedUtf8(std::string_view text) {
  for (std::size_t at = 0, length; at < text.size(); at += length) {
    length = sequenceLength(text, at);
    if (length == 0) return false;
  }
  return true;
}

bool isAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string shownText(std::string_view text) {
  static const char kHexDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0, length; at < text.size(); at += length) {
    length = sequenceLength(text, at);
    if (length == 0) length = 1;  // not for invalid UTF-8, but never stuck on it
    std::uint32_t character = decodedCharacter(text, at, length);
    if (!isInvisible(character)) {
      out.append(text, at, length);
      continue;
    }
    out += "\xE2\x80\xB9U+";  // U+2039
    int digits = character > 0xFFFF ? 5 : 4;
    for (int digit = digits - 1; digit >= 0; --digit)
      out += kHexDigits[character >> 4 * digit & 0xF];
    out += "\xE2\x80\xBA";  // U+203A
  }
  return out;
}

void appendHtmlText(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (isControl(static_cast<unsigned char>(c))) {
          out += kReplacement;
        } else {
          out += c;
        }
    }
  }
}

void appendJsonString(std::string& out, std::string_view text) {
  static const char kHexDigits[] = "0123456789abcdef";
  auto appendEscape = [&](unsigned code) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[code >> shift & 0xF];
  };
  out += '"';
  for (std::size_t at = 0; at < text.size(); ++at) {
    auto byte = static_cast<unsigned char>(text[at]);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20 || byte == '<' || byte == '>' || byte == '&') {
      appendEscape(byte);
    } else if (text.substr(at, 3) == "\xE2\x80\xA8" || text.substr(at, 3) == "\xE2\x80\xA9") {
      appendEscape(text[at + 2] == '\xA8' ? 0x2028 : 0x2029);
      at += 2;
    } else {
      out += static_cast<char>(byte);
    }
  }
  out += '"';
}

void appendCsvField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}
