// Small helpers for what the commands read and print: files given on the
// command line ("-" is standard input) and aligned tables.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "admin/admin_context.h"

namespace veltrane::admin {

// The whole file as bytes; a data error naming the file when it cannot be read.
std::string ReadInputFile(const AdminContext& context, const std::string& path);

// Prints rows as columns separated by two blanks; the first row is the
// heading. Line breaks inside a value print as blanks so a row stays a line;
// other control characters are escaped (VisibleText): values may come from pages.
void PrintTable(std::ostream& out, std::vector<std::vector<std::string>> rows);

}  // namespace veltrane::admin
