// The web view's settings in veltrane.conf, read as the file's other settings
// ("name = value", blank and "#" lines ignored, the last line of a name counts):
//   web_token        the token every request from elsewhere must carry
//   web_names        further host names the view answers to (DNS names by
//                    which it is reached), separated by commas or blanks
//   web_certificate  PEM certificate (chain) and key to serve HTTPS with;
//   web_key          relative paths are taken from the service's folder
//   web_plain_http   "yes": listen off loopback without HTTPS, knowingly
#pragma once

#include <string>
#include <vector>

namespace veltrane::web {

struct WebSettings {
  std::string token;  // "" for none
  std::vector<std::string> names;
  std::string certificate;  // "" for none
  std::string key;
  bool plainHttp = false;
};

// The web_token of a veltrane.conf text; "" when none.
std::string WebTokenOf(const std::string& configurationText);

// The settings of a veltrane.conf text, paths taken from `directory`. Throws
// std::runtime_error, with a message for the operator, for a web_plain_http
// other than yes or no.
WebSettings WebSettingsOf(const std::string& configurationText, const std::string& directory);
// The same from DIR/veltrane.conf; none set when it is missing.
WebSettings ConfiguredWebSettingsIn(const std::string& directory);

}  // namespace veltrane::web
