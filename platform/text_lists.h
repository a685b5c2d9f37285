// Line lists and name=value lists, as stored in the database and in site scripts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// Splits at CR LF, a lone CR or a lone LF. A final break adds no entry, an
// empty line between two breaks is an empty entry, nothing is trimmed.
std::vector<std::string> SplitLines(std::string_view text);
// Each entry followed by CR LF, as a stored list of sites is written.
std::string LinesText(const std::vector<std::string>& lines);
// The entries joined by ", ", for messages (an empty text adds no separator).
std::string CommaList(const std::vector<std::string>& entries);

// The value behind the first "=" of the first line whose name (the text before
// that "=") equals `name` with letter case ignored; empty when there is none.
std::string LookupValue(const std::vector<std::string>& lines, std::string_view name);

// ASCII-only case folding, as the rules on names and option texts want.
std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Removes blanks and control characters (bytes up to 32) at both ends.
std::string TrimBlanks(std::string_view text);

}  // namespace veltrane
