// Reads the JSON text the snapshot script returned into a Page (json-glib,
// which WebKitGTK itself depends on). Missing or malformed parts leave the
// page's fields empty; nothing is reported.
#pragma once

#include <string_view>

#include "browser/page.h"

namespace veltrane {

// Sets bodyOuterHtml, characterSet, forms (with their action and method) and links of
// `page` (location, source and status code are the control's). Text that is no JSON
// object leaves them empty. True when the page has custom controls whose values could
// not be read, since the page-world helper was not in the page yet.
bool ReadSnapshot(std::string_view json, Page& page);

}  // namespace veltrane
