#include "admin/help.h"

#include <algorithm>

namespace veltrane::admin {

std::string CommandLine(const Command& command) {
  std::string line = std::string(command.group);
  if (!line.empty()) line += ' ';
  line += command.name;
  if (!command.usage.empty()) line += " " + std::string(command.usage);
  return line;
}

namespace {

std::string Listing(std::string_view group, bool all) {
  std::size_t width = 0;
  for (const Command& command : AllCommands())
    if (all || command.group == group) width = std::max(width, CommandLine(command).size());
  std::string text;
  for (const Command& command : AllCommands()) {
    if (!all && command.group != group) continue;
    std::string line = CommandLine(command);
    // Long command lines put their summary on the next line.
    if (line.size() > 40)
      line += "\n" + std::string(std::min<std::size_t>(width, 40) + 4, ' ');
    else
      line.resize(std::min<std::size_t>(width, 40) + 2, ' ');
    text += "  " + line + std::string(command.summary) + "\n";
  }
  return text;
}

constexpr std::string_view kExitCodes =
    "Exit codes: 0 done; 1 the system refused (database locked by another program,\n"
    "directory not writable); 2 usage error (unknown command or option, missing\n"
    "argument); 3 data error (unknown release, site or schedule, malformed file, date,\n"
    "frequency or number, a file that is not a Veltrane database); 4 site try: the\n"
    "site failed, page inspect: the address did not load. status exits with 1 when\n"
    "no instance of the service runs or one is not healthy. Errors are one line on\n"
    "standard error starting with \"veltrane-admin:\". A command that fails changes\n"
    "nothing.\n";

}  // namespace

std::string_view ExitCodesText() { return kExitCodes; }

std::string_view AdminDescription() {
  return "Prepares and inspects the databases of the Veltrane service: DIR/db/vt.dat\n"
         "(schedules, press releases, accounts, history) and DIR/db/subscription2.dat\n"
         "(sites and their step scripts). DIR is the service's folder, the directory of\n"
         "its binary, with db/, shots/ and veltrane.conf. Without --dir it is the current\n"
         "directory when that holds db/ or veltrane.conf, else the directory of\n"
         "veltrane-admin itself when that does (the installed service: /usr/lib/veltrane,\n"
         "whose db/ and veltrane.conf lead to /var/lib/veltrane and /etc/veltrane), else\n"
         "the current directory.\n";
}

std::string MainHelp() {
  return "usage: veltrane-admin [--dir DIR] <command> ...\n"
         "       veltrane-admin --version\n\n" +
         std::string(AdminDescription()) + "\nCommands:\n" + Listing("", true) +
         "\nEvery command takes --help. Times are local times.\n\n" + std::string(kExitCodes);
}

std::string GroupHelp(std::string_view group) {
  return "usage: veltrane-admin [--dir DIR] " + std::string(group) + " <command> ...\n\n" +
         Listing(group, false) + "\nEvery command takes --help.\n";
}

std::string CommandHelp(const Command& command) {
  std::string text = "usage: veltrane-admin [--dir DIR] " + CommandLine(command) + "\n\n" +
                     std::string(command.summary) + "\n";
  if (!command.details.empty()) text += "\n" + std::string(command.details);
  text += command.appendix;
  return text + "\n" + std::string(kExitCodes);
}

}  // namespace veltrane::admin
