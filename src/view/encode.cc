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
  } else {
    out += static_cast<char>(0xE0 | character >> 12);
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
