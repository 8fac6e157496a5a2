#include "tools/kvctl/Json.h"

#include <cstdio>

#include "common/Utf16.h"

namespace korvane::tools {

std::string jsonString(std::string_view text) {
  const bool validUtf8 = common::utf8ToUtf16(text).has_value();
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out += escaped;
        } else if (byte >= 0x80 && !validUtf8) {
          out += "\\ufffd";
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace korvane::tools
