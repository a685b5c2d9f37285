// JsonWriter: the one JSON document a command prints with --json, written
// to a stream as it is built, two blanks of indent a level, with a line break
// at its end. Texts are stored bytes: they are written as valid UTF-8 (each
// byte that is not part of a well-formed sequence becomes U+FFFD), with
// quotes, backslashes and every control character escaped. The calls must
// nest as JSON does: a member of an object is named with Key first.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane::admin {

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  JsonWriter& Key(std::string_view key);
  void Text(std::string_view value);
  void Number(std::int64_t value);
  void Real(double value);  // null when not finite
  void Bool(bool value);
  void Null();
  // A text, or null when there is none.
  void OptionalText(const std::optional<std::string>& value);
  void Texts(const std::vector<std::string>& values);

  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }

 private:
  void Value(std::string_view json);  // a value in its place
  void Open(char bracket);
  void Close(char bracket);
  void Indent();

  std::ostream& out_;
  std::vector<int> counts_;  // values written so far in each open object or array
  bool keyed_ = false;       // a key waits for its value
};

}  // namespace veltrane::admin
