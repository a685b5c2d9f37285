// Where the program lives: every file it reads is found beside its executable.
#pragma once

#include <string>
#include <string_view>

namespace veltrane {

// The directory of /proc/self/exe with a trailing "/".
std::string ExecutableDirectory();

// A text fit to be part of a file name: every character other than A-Z, a-z,
// 0-9, ".", "_" and "-" becomes "_".
std::string FileNameSafe(std::string_view text);

}  // namespace veltrane
