// The few pieces every page of the web view is built from: texts escaped for
// HTML (every text that came from a site or a person goes through Escape),
// query values encoded for links, and the page frame with its navigation.
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace veltrane::web {

// `text` safe as HTML text and as a quoted attribute value: & < > " ' escaped.
std::string Escape(std::string_view text);
// `text` as one percent-encoded query value (every byte but A-Z a-z 0-9 - . _ ~).
std::string QueryValue(std::string_view text);

// Links to the pages, their query values encoded.
std::string JobLink(long long historyId);
std::string SiteLink(std::string_view site);

// A whole page: `title` (plain text), `body` (HTML). With `refreshSeconds`
// above 0 the page reloads itself that often (no script: a meta refresh).
std::string PageFrame(std::string_view title, const std::string& body, int refreshSeconds = 0);

// The style sheet the pages link to (/style.css).
std::string_view StyleSheet();

}  // namespace veltrane::web
