// The manual pages veltrane(8) and veltrane-admin(8) in roff, made from the
// texts the programs print for --help (the command table is the manual), so
// that the two never drift apart. The build writes them with
// 'veltrane-admin --man veltrane' and 'veltrane-admin --man veltrane-admin'.
#pragma once

#include <string>
#include <string_view>

namespace veltrane::admin {

// A help text as roff: escapes backslashes, minus signs and leading dots;
// blank lines start paragraphs, indented lines stay as they are (examples,
// lists).
std::string RoffText(std::string_view text);

std::string AdminManPage();
std::string ServiceManPage();

}  // namespace veltrane::admin
