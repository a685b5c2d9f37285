#include "platform/version.h"

namespace veltrane {

const char* ProgramVersion() { return VELTRANE_VERSION; }

}  // namespace veltrane
