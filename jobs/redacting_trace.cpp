#include "jobs/redacting_trace.h"

#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/text_lists.h"
#include "platform/trace_priority.h"

namespace veltrane {
namespace {

// Percent-encodes every byte outside `keep`; a blank becomes "+" when `plus`.
std::string Encoded(const std::string& text, const std::string& keep, bool plus, bool lower) {
  static const char kUpper[] = "0123456789ABCDEF";
  static const char kLower[] = "0123456789abcdef";
  const char* hex = lower ? kLower : kUpper;
  std::string out;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool alphanumeric = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                              (byte >= 'a' && byte <= 'z');
    if (alphanumeric || keep.find(c) != std::string::npos) {
      out += c;
    } else if (plus && c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 15];
    }
  }
  return out;
}

// The length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

std::uint32_t CodePoint(const std::string& sequence) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
  switch (sequence.size()) {
    case 2: return (byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu);
    case 3: return (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
    case 4:
      return (byte(0) & 0x07u) << 18 | (byte(1) & 0x3Fu) << 12 | (byte(2) & 0x3Fu) << 6 |
             (byte(3) & 0x3Fu);
    default: return byte(0);
  }
}

// Converts one character; none when the character set cannot hold it.
std::optional<std::string> Convert(iconv_t converter, const std::string& sequence) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
  std::string in = sequence;
  char out[16];
  char* input = in.data();
  std::size_t inLeft = in.size();
  char* output = out;
  std::size_t outLeft = sizeof out;
  if (iconv(converter, &input, &inLeft, &output, &outLeft) == static_cast<std::size_t>(-1) ||
      iconv(converter, nullptr, nullptr, &output, &outLeft) == static_cast<std::size_t>(-1))
    return std::nullopt;
  return std::string(out, static_cast<std::size_t>(output - out));
}

// `text` (UTF-8) in `characterSet` as a browser sends it in a form: a
// character the set cannot hold becomes a numeric character reference.
// None when the set is unknown here.
std::optional<std::string> InCharacterSet(const std::string& text,
                                          const std::string& characterSet) {
  const iconv_t converter = iconv_open(characterSet.c_str(), "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length =
        std::min(SequenceLength(static_cast<unsigned char>(text[at])), text.size() - at);
    const std::string sequence = text.substr(at, length);
    at += length;
    if (const std::optional<std::string> converted = Convert(converter, sequence)) {
      out += *converted;
    } else {
      out += "&#" + std::to_string(CodePoint(sequence)) + ";";
    }
  }
  iconv_close(converter);
  return out;
}

}  // namespace

void RedactingTrace::SetSecret(const std::string& secret) {
  secret_ = secret;
  characterSets_.clear();
  forms_.clear();
  AddSpellings(secret);
}

void RedactingTrace::NoteCharacterSet(const std::string& characterSet) {
  const std::string name = UpperAscii(characterSet);
  if (secret_.empty() || name.empty() || name == "UTF-8" || !characterSets_.insert(name).second)
    return;
  if (const std::optional<std::string> bytes = InCharacterSet(secret_, name)) AddSpellings(*bytes);
}

void RedactingTrace::AddSpellings(const std::string& bytes) {
  if (bytes.empty()) return;
  for (const bool lower : {false, true}) {
    forms_.push_back(Encoded(bytes, "-_.~", false, lower));                 // address components
    forms_.push_back(Encoded(bytes, "*-._", true, lower));                  // form submissions
    forms_.push_back(Encoded(bytes, "-_.~!$&'()*+,;=:@/?", false, lower));  // in a path
  }
  forms_.push_back(bytes);
  std::sort(forms_.begin(), forms_.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  forms_.erase(std::unique(forms_.begin(), forms_.end()), forms_.end());
}

bool RedactingTrace::TraceLine(const std::string& text) {
  if (site_.empty() || TracePriorityOf(text) > TracePriority::Warning) return out_.TraceLine(text);
  return out_.TraceLine(NamingSite(text, site_));
}

std::string RedactingTrace::Redact(std::string text) const {
  for (const std::string& form : forms_) {
    for (std::size_t at = text.find(form); at != std::string::npos; at = text.find(form, at + 3))
      text.replace(at, form.size(), "***");
  }
  return text;
}

}  // namespace veltrane
