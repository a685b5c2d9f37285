// Looks at an X server a program under test started for itself: which child
// process it is, its command line and starting environment (from /proc), its
// display (from its listening socket), and whether a client with a given authority
// file may connect to it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace veltrane::testing {

// A child of `parent` whose command name is `name`; 0 when there is none.
pid_t ChildNamed(pid_t parent, const std::string& name);
// Its arguments, argv[0] first.
std::vector<std::string> CommandLineOf(pid_t pid);
// Its environment as it was started ("NAME=value" entries).
std::vector<std::string> StartEnvironmentOf(pid_t pid);
// ":N" of the X server with this process id, by its socket /tmp/.X11-unix/XN; "" when none.
std::string DisplayOfServer(pid_t server);
// Whether a client whose XAUTHORITY is `authorityFile` may open `display`.
bool DisplayOpensWith(const std::string& display, const std::string& authorityFile);

}  // namespace veltrane::testing
