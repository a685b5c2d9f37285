#include "engine/navigation_guards.h"

#include <array>

#include "platform/text_lists.h"

namespace veltrane {

bool RefusedMediaAddress(std::string_view url) {
  static constexpr std::array<std::string_view, 5> kRefused = {".swf", ".jpg", ".gif", ".png",
                                                               ".jpeg"};
  const std::string lower = LowerAscii(url);
  for (std::string_view ending : kRefused) {
    if (lower.find(ending) != std::string::npos) return true;
  }
  return false;
}

bool RefusedScheme(std::string_view url) {
  // Address parsers drop leading blanks and control characters, so they do not hide a scheme.
  const std::string lower = LowerAscii(TrimBlanks(url));
  return !(lower.starts_with("http:") || lower.starts_with("https:") || lower == "about:blank");
}

void BrowserBeforeNavigate2(LoadingIndicator& panel2, TraceSink& trace, const std::string& url,
                            bool& cancel) {
  panel2.Show();
  if (RefusedMediaAddress(url) || RefusedScheme(url)) {
    trace.TraceLine("Navigation refused: " + trace.Outside(url));
    cancel = true;
  }
}

void BrowserNewWindow2(TraceSink& trace, const std::string& url, bool& cancel) {
  trace.TraceLine("New window refused: " + trace.Outside(url));
  cancel = true;
}

void BrowserPrintRefused(TraceSink& trace, const std::string& url) {
  trace.TraceLine("Print refused: " + trace.Outside(url));
}

void BrowserDownloadRefused(TraceSink& trace, const std::string& url) {
  trace.TraceLine("Download refused: " + trace.Outside(url));
}

void BrowserPageDropped(TraceSink& trace, const std::string& url) {
  trace.TraceLine("Stale page dropped : " + trace.Outside(url));
}

void BrowserNavigateError(TraceSink& trace, const std::string& url, std::int32_t statusCode,
                          const std::string& message, bool& cancel) {
  trace.TraceLine("Error while navigate " + trace.Outside(url) +
                  " code:" + std::to_string(statusCode));
  if (!message.empty()) trace.TraceLine("Network error: " + trace.Outside(message));
  cancel = false;
}

void BrowserProgressChange(int, int) {}

}  // namespace veltrane
