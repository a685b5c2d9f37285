#include "platform/version.h"

namespace veltrane {

std::string_view VeltraneVersion() { return VELTRANE_VERSION; }

}  // namespace veltrane
