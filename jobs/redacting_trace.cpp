#include "jobs/redacting_trace.h"

#include <algorithm>

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

}  // namespace

void RedactingTrace::SetSecret(const std::string& secret) {
  forms_.clear();
  if (secret.empty()) return;
  for (const bool lower : {false, true}) {
    forms_.push_back(Encoded(secret, "-_.~", false, lower));                 // address components
    forms_.push_back(Encoded(secret, "*-._", true, lower));                  // form submissions
    forms_.push_back(Encoded(secret, "-_.~!$&'()*+,;=:@/?", false, lower));  // in a path
  }
  forms_.push_back(secret);
  std::sort(forms_.begin(), forms_.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  forms_.erase(std::unique(forms_.begin(), forms_.end()), forms_.end());
}

std::string RedactingTrace::Redact(std::string text) const {
  for (const std::string& form : forms_) {
    for (std::size_t at = text.find(form); at != std::string::npos; at = text.find(form, at + 3))
      text.replace(at, form.size(), "***");
  }
  return text;
}

}  // namespace veltrane
