#include "admin/json_writer.h"

#include <cmath>
#include <cstdio>
#include <ostream>

#include "platform/number_text.h"

namespace veltrane::admin {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at `at`, or 0 (an overlong
// form, a surrogate, a code point beyond U+10FFFF, a sequence cut short).
std::size_t SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = at + 2; i < at + length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = SequenceLength(text, at);
    if (length == 0) {
      json += kReplacement;
      ++at;
      continue;
    }
    const char c = text[at];
    switch (c) {
      case '"': json += "\\\""; break;
      case '\\': json += "\\\\"; break;
      case '\n': json += "\\n"; break;
      case '\r': json += "\\r"; break;
      case '\t': json += "\\t"; break;
      default:
        // C1 controls too (U+0080-U+009F, "\xC2\x80"-"\xC2\x9F"): a terminal may act on them.
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F ||
            (length == 2 && c == '\xC2' && static_cast<unsigned char>(text[at + 1]) <= 0x9F)) {
          const unsigned code = length == 2 ? static_cast<unsigned char>(text[at + 1])
                                            : static_cast<unsigned char>(c);
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
          json += escaped;
        } else {
          json.append(text.substr(at, length));
        }
    }
    at += length;
  }
  return json + "\"";
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  Indent();
  out_ << JsonString(key) << ": ";
  keyed_ = true;
  return *this;
}

void JsonWriter::Text(std::string_view value) { Value(JsonString(value)); }
void JsonWriter::Number(std::int64_t value) { Value(std::to_string(value)); }
void JsonWriter::Real(double value) { Value(std::isfinite(value) ? SqlNumberText(value) : "null"); }
void JsonWriter::Bool(bool value) { Value(value ? "true" : "false"); }
void JsonWriter::Null() { Value("null"); }

void JsonWriter::OptionalText(const std::optional<std::string>& value) {
  if (value)
    Text(*value);
  else
    Null();
}

void JsonWriter::Texts(const std::vector<std::string>& values) {
  BeginArray();
  for (const std::string& value : values) Text(value);
  EndArray();
}

void JsonWriter::Value(std::string_view json) {
  if (!keyed_) Indent();
  keyed_ = false;
  out_ << json;
}

void JsonWriter::Open(char bracket) {
  Value(std::string_view(&bracket, 1));
  counts_.push_back(0);
}

void JsonWriter::Close(char bracket) {
  const bool empty = counts_.back() == 0;
  counts_.pop_back();
  if (!empty) out_ << "\n" << std::string(2 * counts_.size(), ' ');
  out_ << bracket;
  if (counts_.empty()) out_ << "\n";
}

// Starts the next value of the open object or array on a line of its own.
void JsonWriter::Indent() {
  if (counts_.empty()) return;
  out_ << (counts_.back()++ ? ",\n" : "\n") << std::string(2 * counts_.size(), ' ');
}

}  // namespace veltrane::admin
