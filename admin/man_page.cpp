#include "admin/man_page.h"

#include <sstream>

#include "admin/commands.h"
#include "admin/help.h"
#include "app/service_usage.h"
#include "platform/version.h"

namespace veltrane::admin {
namespace {

std::string Escaped(std::string_view line) {
  std::string text = line.starts_with('.') || line.starts_with('\'') ? "\\&" : "";
  for (char c : line) {
    if (c == '\\')
      text += "\\e";
    else if (c == '-')
      text += "\\-";
    else
      text += c;
  }
  return text;
}

std::string Header(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return ".TH " + Escaped(upper) + " 8 \"\" \"Veltrane " + std::string(VeltraneVersion()) +
         "\" \"System Administration\"\n";
}

constexpr std::string_view kFiles =
    ".SH FILES\n"
    ".TP\n/etc/veltrane/veltrane.conf\n"
    "The configuration: a line \\(lqdatabase_url = ...\\(rq names a PostgreSQL server\n"
    "(readable by root and the group veltrane only: it may hold a password).\n"
    ".TP\n/var/lib/veltrane/db/vt.dat, /var/lib/veltrane/db/subscription2.dat\n"
    "The databases: schedules, press releases, accounts and history; sites and their\n"
    "step scripts.\n"
    ".TP\n/var/lib/veltrane/shots/\nScreenshots of the pages of failed sites.\n"
    ".TP\n/usr/lib/veltrane/\n"
    "The programs, with the links db/, shots/, tries/ and veltrane.conf that lead to the\n"
    "folders above: the service's folder as the programs see it.\n"
    ".PP\n"
    "A service installed in a folder of its own (a demo, or cmake \\-\\-install) keeps\n"
    "db/, shots/ and veltrane.conf beside its binary instead.\n";

}  // namespace

std::string RoffText(std::string_view text) {
  std::istringstream lines{std::string(text)};
  std::string roff;
  bool verbatim = false;
  for (std::string line; std::getline(lines, line);) {
    const bool indented = line.starts_with("  ");
    if (indented != verbatim) roff += indented ? ".nf\n" : ".fi\n";
    verbatim = indented;
    roff += line.empty() ? ".PP\n" : Escaped(line) + "\n";
  }
  if (verbatim) roff += ".fi\n";
  return roff;
}

std::string AdminManPage() {
  std::string page = Header("veltrane-admin");
  page +=
      ".SH NAME\nveltrane\\-admin \\- prepare and inspect the databases of the Veltrane "
      "service\n"
      ".SH SYNOPSIS\n.B veltrane\\-admin\n[\\fB\\-\\-dir\\fR \\fIDIR\\fR] \\fIcommand\\fR ...\n"
      ".br\n.B veltrane\\-admin \\-\\-version\n"
      ".SH DESCRIPTION\n" +
      RoffText(AdminDescription()) +
      ".PP\nEvery command takes \\-\\-help. Times are local times. The shell completes\n"
      "commands, options and the names of sites and releases.\n"
      ".SH COMMANDS\n";
  std::string_view appendix;
  for (const Command& command : AllCommands()) {
    page += ".SS \"" + Escaped(CommandLine(command)) + "\"\n" + Escaped(command.summary) + ".\n";
    if (!command.details.empty()) page += ".PP\n" + RoffText(command.details);
    if (!command.appendix.empty()) appendix = command.appendix;
  }
  if (!appendix.empty()) page += ".SH \"PRESS RELEASE FILES\"\n" + RoffText(appendix);
  page += ".SH \"EXIT STATUS\"\n" + RoffText(ExitCodesText());
  page += kFiles;
  page += ".SH \"SEE ALSO\"\n.BR veltrane (8)\n";
  return page;
}

std::string ServiceManPage() {
  std::string usage(kServiceUsage);
  // The first line is the synopsis, the rest the description.
  const std::size_t end = usage.find('\n');
  std::string page = Header("veltrane");
  page +=
      ".SH NAME\nveltrane \\- the Veltrane press\\-release submission service\n"
      ".SH SYNOPSIS\n" +
      Escaped(usage.substr(usage.find(' ') + 1, end - usage.find(' ') - 1)) +
      "\n.SH DESCRIPTION\n" + RoffText(std::string_view(usage).substr(end + 1)) +
      ".PP\nThe Debian package runs it as the system service veltrane.service, as the\n"
      "user veltrane on an Xvfb of its own: \\fBsystemctl enable \\-\\-now veltrane\\fR;\n"
      "its trace is in the journal (\\fBjournalctl \\-u veltrane\\fR).\n"
      ".SH ENVIRONMENT\n.TP\nVELTRANE_DATABASE_URL\n"
      "A PostgreSQL server to use instead of the configuration file's.\n";
  page += kFiles;
  page += ".SH \"SEE ALSO\"\n.BR veltrane\\-admin (8),\n.BR Xvfb (1)\n";
  return page;
}

}  // namespace veltrane::admin
