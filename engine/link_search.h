// Link search: the links of a page whose address contains every word of a
// pattern. Words are split at blanks and control characters; a word in double
// quotes may hold blanks ("" inside it is one quote). Only reads the page.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "browser/page.h"
#include "engine/pseudo_random.h"

namespace veltrane {

// The page's anchor addresses in document order, duplicates kept.
std::vector<std::string> ListLinks(const Page& page);

// The words of a pattern. A quoted word may be empty; an empty word matches nothing.
std::vector<std::string> PatternWords(std::string_view pattern);

// True when every word occurs in the address, byte for byte, letter case counting.
bool MatchesPattern(std::string_view address, const std::vector<std::string>& words);

// The first matching address of the page, or the empty text.
std::string FindLink(const Page& page, std::string_view pattern);

// A matching address chosen with RandomIndex among all matches (an address
// listed several times is as many times as likely), or the empty text.
std::string FindRandomLink(const Page& page, std::string_view pattern, PseudoRandom& random);

// 0 when n is 0 (or less); otherwise the generator's next number modulo n.
int RandomIndex(int n, PseudoRandom& random);

}  // namespace veltrane
