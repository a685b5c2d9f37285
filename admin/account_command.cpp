// account set: the login of a site, kept in the site store. The
// password comes from standard input only, so it never shows in the process
// list or the shell history.
#include <termios.h>
#include <unistd.h>

#include <istream>
#include <ostream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/names.h"

namespace veltrane::admin {
namespace {

// Turns the terminal's echo off for its lifetime.
class HiddenInput {
 public:
  HiddenInput() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  HiddenInput(const HiddenInput&) = delete;
  HiddenInput& operator=(const HiddenInput&) = delete;
  ~HiddenInput() {
    if (active_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }

 private:
  termios saved_{};
  bool active_ = false;
};

std::string ReadPassword(AdminContext& context, const std::string& site) {
  std::string password;
  bool read = false;
  if (context.io.inputIsTerminal) {
    context.io.err << "password for " << Quoted(site) << ": " << std::flush;
    HiddenInput hidden;
    read = static_cast<bool>(std::getline(context.io.in, password));
    context.io.err << "\n";
  } else {
    read = static_cast<bool>(std::getline(context.io.in, password));
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (!read || password.empty()) DataError("no password on standard input (give it as one line)");
  return password;
}

}  // namespace

void RunAccountSet(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {"user"}, "account set");
  RequirePositional(parsed, 1, "SITE", "account set");
  const std::string& site = parsed.positional[0];
  const std::string& user = parsed.Required("user", "account set");
  if (user.empty()) DataError("the user name is empty");
  for (const char c : user)
    if (static_cast<unsigned char>(c) < 32) DataError("the user name holds a control character");
  const auto sites = SitesOf(context);
  if (!sites->Exists(site)) DataError("unknown site " + Quoted(site) + " (use 'site add')");
  sites->CheckAccounts();
  const std::string password = ReadPassword(context, site);
  sites->SetAccount(site, user, password);
  context.io.out << "set the account of site " << Quoted(site) << " (user " << Quoted(user)
                 << ")\n";
}

}  // namespace veltrane::admin
