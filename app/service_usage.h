// The service's --help text; its manual page (veltrane(8)) is made from it.
#pragma once

namespace veltrane {

inline constexpr const char* kServiceUsage =
    "Usage: veltrane [--help | --version]\n"
    "\n"
    "The press-release submission service. It polls the schedules in the store\n"
    "(db/vt.dat and db/subscription2.dat beside the program, or the PostgreSQL\n"
    "server named by $VELTRANE_DATABASE_URL or veltrane.conf), runs each due\n"
    "schedule's job through its browser, and writes its trace to standard error.\n"
    "It runs on the X display $DISPLAY names; without one (a server, the systemd\n"
    "unit) it starts an Xvfb of its own that only it may use. One copy runs per\n"
    "user; it ends from its tray menu (\"Unload\").\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "GTK's own options (--display and the like) are accepted as well.\n"
    "Exit codes: 0 ended, or another copy runs; 1 could not start; 2 unknown option.\n";

}  // namespace veltrane
