// Page text: what success and unique strings are searched in. GetPageSource
// gives the page's source bytes unchanged, or the body's outer HTML when the
// page has no source; TextContains is the byte-for-byte, case-counting test;
// PageContains is the test the step engine makes, which also finds UTF-8 step
// values in source bytes of a legacy character set. All only read; nothing is
// cached between checks.
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

// True when the page's text contains `search` (a UTF-8 step value). First the
// byte test on GetPageSource, whose answer stands when it finds the value or
// the value is ASCII. Otherwise, when that text is the source bytes and the
// page's character set is given and is not UTF-8, the source is decoded from
// that character set to UTF-8 and searched again. Bytes the character set
// does not define decode as U+FFFD; a character set unknown to iconv gives
// "not found".
bool PageContains(const Page& page, std::string_view search);

}  // namespace veltrane
