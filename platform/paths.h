// Where the program lives: every file it reads is found beside its executable.
#pragma once

#include <string>

namespace veltrane {

// The directory of /proc/self/exe with a trailing "/".
std::string ExecutableDirectory();

}  // namespace veltrane
