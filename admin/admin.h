// veltrane-admin: prepares and inspects the service's database files. RunAdmin
// runs one command line (without the program name) against the streams and
// clock given, prints errors as one "veltrane-admin: ..." line on `err`, and
// returns the exit code (see admin_error.h). It never exits the process.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/day_clock.h"

namespace veltrane::admin {

struct AdminIo {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  const Clock& clock = DefaultClock();
  // Standard input is a terminal: prompt for a password and hide its echo.
  bool inputIsTerminal = false;
};

int RunAdmin(const std::vector<std::string>& args, const AdminIo& io);

}  // namespace veltrane::admin
