#include "web/html.h"

namespace veltrane::web {

std::string Escape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      // A NUL would end the text early in some readers; nothing shows it anyway.
      case '\0': escaped += "&#xFFFD;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string QueryValue(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
  }
  return encoded;
}

std::string JobLink(long long historyId) { return "/job?id=" + std::to_string(historyId); }

std::string SiteLink(std::string_view site) { return "/site?name=" + QueryValue(site); }

std::string PageFrame(std::string_view title, const std::string& body, int refreshSeconds) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
  if (refreshSeconds > 0)
    page += "<meta http-equiv=\"refresh\" content=\"" + std::to_string(refreshSeconds) + "\">";
  page += "<title>" + Escape(title) + " - Veltrane</title>";
  page += "<link rel=\"stylesheet\" href=\"/style.css\"></head><body>";
  page +=
      "<nav><a href=\"/\">Overview</a> <a href=\"/grid\">Sites at a glance</a> "
      "<a href=\"/grid?failing=1\">Failing sites</a></nav>\n<main>";
  page += "<h1>" + Escape(title) + "</h1>\n";
  page += body;
  page += "</main></body></html>\n";
  return page;
}

std::string_view StyleSheet() {
  return "body{font:14px/1.4 system-ui,sans-serif;margin:0;color:#222;background:#fafafa}"
         "nav{background:#263238;padding:8px 16px}nav a{color:#eceff1;margin-right:16px;"
         "text-decoration:none}main{padding:8px 16px}h1{font-size:20px}h2{font-size:16px;"
         "margin-top:24px}table{border-collapse:collapse}td,th{padding:3px 8px;text-align:left;"
         "border-bottom:1px solid #ddd;vertical-align:top}th{background:#eceff1}"
         ".ok,.Success,.Completed{color:#2e7d32}.bad,.Failed{color:#c62828}.Partial{color:#e65100}"
         ".stale{color:#c62828;font-weight:bold}pre{background:#fff;border:1px solid #ddd;"
         "padding:8px;overflow:auto;white-space:pre-wrap}img.shot{max-width:100%;"
         "border:1px solid #999}.site{background:#fff;border:1px solid #ddd;padding:8px;"
         "margin:8px 0}.muted{color:#777}#instances td,#next-runs td,#last-jobs "
         "td{white-space:nowrap}svg a:hover rect{stroke:#000}\n";
}

}  // namespace veltrane::web
