// Screenshots as the web view serves them: only files in the service's own
// screenshot folder, named by the name a site's outcome recorded, never by
// a path taken from a request. A recorded name that is not a plain file
// name there (a path, "..", an absolute trial picture) is refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrane::web {

// A name the folder can serve: a PNG's plain file name, no path.
bool IsServableShot(std::string_view recordedName);

// The bytes of `recordedName` in `directory`, when it is servable there and
// a regular file (a symbolic link is not followed); none otherwise.
std::optional<std::string> ReadShot(const std::string& directory, std::string_view recordedName);

}  // namespace veltrane::web
