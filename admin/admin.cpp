#include "admin/admin.h"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <system_error>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/commands.h"
#include "admin/completion.h"
#include "admin/help.h"
#include "admin/man_page.h"
#include "admin/service_folder.h"
#include "platform/paths.h"
#include "platform/version.h"
#include "platform/visible_text.h"

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

// Takes "--dir DIR" or "--dir=DIR" out of the arguments (before any "--");
// `dir` stays as it was when neither is there.
std::vector<std::string> TakeDirOption(Arguments args, std::string& dir) {
  std::vector<std::string> rest;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") optionsEnded = true;
    if (!optionsEnded && arg == "--dir") {
      if (i + 1 == args.size()) UsageError("--dir needs a value");
      dir = args[++i];
      if (dir.empty()) UsageError("--dir needs a non-empty value");
    } else if (!optionsEnded && arg.starts_with("--dir=")) {
      dir = arg.substr(6);
      if (dir.empty()) UsageError("--dir needs a non-empty value");
    } else {
      rest.push_back(arg);
    }
  }
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

std::string WithoutTrailingSlash(std::string path) {
  if (path.size() > 1 && path.ends_with('/')) path.pop_back();
  return path;
}

// Without --dir: the service folder found from here (service_folder.h).
std::string DefaultDirectory() {
  std::error_code error;
  const std::string current = std::filesystem::current_path(error).string();
  if (error) return ".";
  return DefaultServiceFolder(current, WithoutTrailingSlash(ExecutableDirectory()));
}

// The hidden "--complete WORDS... CURRENT" of the shell completion: one
// candidate a line; a store that cannot be read gives no names.
void PrintCompletions(const std::string& dir, Arguments words, const AdminIo& io) {
  if (words.empty()) return;
  const AdminContext context{dir, io};
  const auto namesOf = [&context](auto entries) {
    std::vector<std::string> names;
    try {
      for (const auto& entry : entries(context)) names.push_back(entry.name);
    } catch (const std::exception&) {
      names.clear();
    }
    return names;
  };
  const CompletionNames names{
      [&] { return namesOf([](const AdminContext& c) { return SitesOf(c)->List(); }); },
      [&] { return namesOf([](const AdminContext& c) { return ReleasesOf(c)->List(); }); }};
  for (const std::string& candidate :
       CompletionCandidates(words.first(words.size() - 1), words.back(), names))
    io.out << candidate << "\n";
}

int Dispatch(const std::vector<std::string>& all, const AdminIo& io) {
  std::string dir;
  const std::vector<std::string> args = TakeDirOption(all, dir);
  if (dir.empty()) dir = DefaultDirectory();
  if (args.empty()) UsageError("no command given (see 'veltrane-admin --help')");
  const std::string& word = args.front();
  if (word == "--complete") {
    PrintCompletions(dir, Arguments(args).subspan(1), io);
    return kExitOk;
  }
  if (word == "--man" && args.size() == 2 &&
      (args[1] == "veltrane" || args[1] == "veltrane-admin")) {
    io.out << (args[1] == "veltrane" ? ServiceManPage() : AdminManPage());
    return kExitOk;
  }
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
// An error may quote a page or a stored value: shown on one line, its controls escaped.
std::string OneLine(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return VisibleText(text);
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
