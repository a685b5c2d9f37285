// Which service folder veltrane-admin works on when --dir is not given: the
// current directory when it is a service's folder (it holds db/ or
// veltrane.conf), else the folder of the tool's own binary when that is one
// (an installed service: the package's /usr/lib/veltrane links db/ and
// veltrane.conf to /var/lib/veltrane and /etc/veltrane), else the current
// directory, where 'init' makes one. Paths are absolute, so that messages
// name the folder looked in.
#pragma once

#include <string>

namespace veltrane::admin {

bool IsServiceFolder(const std::string& directory);

// `current` and `own` are absolute; `own` may be empty (unknown).
std::string DefaultServiceFolder(const std::string& current, const std::string& own);

}  // namespace veltrane::admin
