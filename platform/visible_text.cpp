#include "platform/visible_text.h"

#include <glib.h>

#include <cstdio>

namespace veltrane {
namespace {

bool IsControl(gunichar c) { return c < 0x20 || (c >= 0x7f && c <= 0x9f); }

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char escape[8];
  std::snprintf(escape, sizeof escape, format, value);
  out += escape;
}

}  // namespace

std::string VisibleText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
    const auto byte = static_cast<unsigned char>(*at);
    if (byte < 0x80) {
      if (byte == '\r')
        out += "\\r";
      else if (IsControl(byte) && byte != '\t' && byte != '\n')
        AppendEscape(out, "\\u%04x", byte);
      else
        out += static_cast<char>(byte);
      ++at;
      continue;
    }
    const gunichar c = g_utf8_get_char_validated(at, end - at);
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
      // Not UTF-8 here: a terminal in an 8-bit mode would take 0x80-0x9f as C1.
      if (byte <= 0x9f)
        AppendEscape(out, "\\x%02x", byte);
      else
        out += static_cast<char>(byte);
      ++at;
      continue;
    }
    const char* next = g_utf8_next_char(at);
    if (IsControl(c))
      AppendEscape(out, "\\u%04x", c);
    else
      out.append(at, next);
    at = next;
  }
  return out;
}

}  // namespace veltrane
