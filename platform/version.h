// The version of this build of Veltrane, as the project declares it (CMake's
// project version): "1.2.3". The programs print it for --version.
#pragma once

#include <string_view>

namespace veltrane {

std::string_view VeltraneVersion();

}  // namespace veltrane
