#include "admin/admin.h"

#include <algorithm>
#include <ostream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/commands.h"
#include "admin/help.h"
#include "platform/version.h"

namespace veltrane::admin {
namespace {

bool IsHelpWord(std::string_view arg) { return arg == "--help" || arg == "-h"; }

bool AsksForHelp(Arguments args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (IsHelpWord(arg)) return true;
  }
  return false;
}

// Takes "--dir DIR" or "--dir=DIR" out of the arguments (before any "--").
std::vector<std::string> TakeDirOption(Arguments args, std::string& dir) {
  std::vector<std::string> rest;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") optionsEnded = true;
    if (!optionsEnded && arg == "--dir") {
      if (i + 1 == args.size()) UsageError("--dir needs a value");
      dir = args[++i];
    } else if (!optionsEnded && arg.starts_with("--dir=")) {
      dir = arg.substr(6);
    } else {
      rest.push_back(arg);
    }
  }
  if (dir.empty()) UsageError("--dir needs a non-empty value");
  return rest;
}

const Command* FindCommand(std::string_view group, std::string_view name) {
  for (const Command& command : AllCommands())
    if (command.group == group && command.name == name) return &command;
  return nullptr;
}

bool IsGroup(std::string_view word) {
  const auto commands = AllCommands();
  return std::any_of(commands.begin(), commands.end(),
                     [word](const Command& command) { return command.group == word; });
}

int Dispatch(const std::vector<std::string>& all, const AdminIo& io) {
  std::string dir = ".";
  const std::vector<std::string> args = TakeDirOption(all, dir);
  if (args.empty()) UsageError("no command given (see 'veltrane-admin --help')");
  const std::string& word = args.front();
  if (IsHelpWord(word) || word == "help") {
    io.out << MainHelp();
    return kExitOk;
  }
  if (word == "--version") {
    if (args.size() > 1) UsageError("--version takes no arguments");
    io.out << "veltrane-admin " << VeltraneVersion() << "\n";
    return kExitOk;
  }
  if (word.starts_with("-"))
    UsageError("unknown option " + word + " (see 'veltrane-admin --help')");

  const Command* command = FindCommand("", word);
  std::size_t used = 1;
  if (!command) {
    if (!IsGroup(word)) UsageError("unknown command '" + word + "' (see 'veltrane-admin --help')");
    if (args.size() < 2 || IsHelpWord(args[1])) {
      if (args.size() < 2)
        UsageError(word + ": missing command (see 'veltrane-admin " + word + " --help')");
      io.out << GroupHelp(word);
      return kExitOk;
    }
    command = FindCommand(word, args[1]);
    if (!command)
      UsageError(word + ": unknown command '" + args[1] + "' (see 'veltrane-admin " + word +
                 " --help')");
    used = 2;
  }
  const Arguments rest = Arguments(args).subspan(used);
  if (AsksForHelp(rest)) {
    io.out << CommandHelp(*command);
    return kExitOk;
  }
  AdminContext context{dir, io};
  command->run(context, rest);
  return kExitOk;
}

// Keeps the error on one line even when a name or path holds a line break.
std::string OneLine(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return text;
}

}  // namespace

int RunAdmin(const std::vector<std::string>& args, const AdminIo& io) {
  try {
    return Dispatch(args, io);
  } catch (const CommandError& error) {
    io.err << "veltrane-admin: " << OneLine(error.what()) << "\n";
    return error.ExitCode();
  } catch (const StorageError& failure) {
    const CommandError error = CommandErrorOf(failure);
    io.err << "veltrane-admin: " << OneLine(error.what()) << "\n";
    return error.ExitCode();
  } catch (const std::exception& error) {
    io.err << "veltrane-admin: " << OneLine(error.what()) << "\n";
    return kExitFailure;
  }
}

}  // namespace veltrane::admin
