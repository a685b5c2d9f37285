// The program's version, as the build gives it (the project's version in CMake).
#pragma once

namespace veltrane {

// "1.0.0": the same text as the Debian package's version.
const char* ProgramVersion();

}  // namespace veltrane
