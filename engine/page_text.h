// Page text: what success and unique strings are searched in. GetPageSource
// gives the page's source bytes unchanged, or the body's outer HTML when the
// page has no source; TextContains is the byte-for-byte, case-counting test.
// Both only read; nothing is cached between checks.
#pragma once

#include <string>
#include <string_view>

#include "browser/page.h"

namespace veltrane {

// The source bytes when there are any, else the body's outer HTML (may be empty).
std::string GetPageSource(const Page& page);

// True when `search` occurs in `text` byte for byte, letter case counting.
// An empty search string is never found. Byte search is safe for UTF-8: a
// whole character never matches inside another.
bool TextContains(std::string_view text, std::string_view search);

}  // namespace veltrane
