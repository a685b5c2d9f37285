// The authoring commands of veltrane-admin, for people who write and keep
// site scripts: `page inspect` (a page as the engine sees it), `site try` (one
// site run as the service runs it, with a picture of every page) and `site
// history` (a site's recent outcomes with their evidence). Each takes the
// arguments after its command words, prints on the streams given and throws
// CommandError on failure; the tool prints that as its one-line error and
// exits with its code. The two commands that load pages run on the X display
// of DISPLAY, or on an Xvfb of their own when DISPLAY is unset. Main thread only.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/command_error.h"
#include "storage/database_files.h"

namespace veltrane::authoring {

struct CommandIo {
  std::string dir;       // the service directory, holding db/
  DatabasePaths stores;  // where the service's data is: the files in db/, or its server
  std::ostream& out;
  std::ostream& err;
};

using CommandArguments = std::vector<std::string>;

// page inspect URL [--json] [--links PATTERN] [--settle MS]
void RunPageInspect(const CommandIo& io, const CommandArguments& args);
// site try NAME --release NAME [--submit] [--no-submit] [--shots DIR]
// Stops before the release is sent unless --submit is given (--no-submit is
// that default, kept for scripts that say so); a trial with --submit is
// recorded among the site's outcomes.
void RunSiteTry(const CommandIo& io, const CommandArguments& args);

}  // namespace veltrane::authoring
