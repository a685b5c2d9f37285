#include "admin/command_line.h"

#include <algorithm>
#include <charconv>

#include "admin/admin_error.h"

namespace veltrane::admin {
namespace {

std::string SeeHelp(std::string_view command) {
  return " (see 'veltrane-admin " + std::string(command) + " --help')";
}

}  // namespace

const std::string& CommandArgs::Required(std::string_view name, std::string_view command) const {
  const auto found = options.find(name);
  if (found == options.end())
    UsageError(std::string(command) + ": --" + std::string(name) + " is required" +
               SeeHelp(command));
  return found->second;
}

std::string CommandArgs::Optional(std::string_view name, std::string_view fallback) const {
  const auto found = options.find(name);
  return found == options.end() ? std::string(fallback) : found->second;
}

CommandArgs ParseCommandArgs(std::span<const std::string> args,
                             std::initializer_list<std::string_view> valueOptions,
                             std::string_view command,
                             std::initializer_list<std::string_view> flagOptions) {
  CommandArgs parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      if (!optionsEnded && (arg == "-h")) {
        parsed.help = true;
        continue;
      }
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help") {
      parsed.help = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name =
        arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    if (std::find(flagOptions.begin(), flagOptions.end(), name) != flagOptions.end()) {
      if (equals != std::string::npos)
        UsageError(std::string(command) + ": --" + name + " takes no value" + SeeHelp(command));
      if (!parsed.flags.insert(name).second)
        UsageError(std::string(command) + ": --" + name + " given twice" + SeeHelp(command));
      continue;
    }
    if (std::find(valueOptions.begin(), valueOptions.end(), name) == valueOptions.end())
      UsageError(std::string(command) + ": unknown option --" + name + SeeHelp(command));
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      UsageError(std::string(command) + ": --" + name + " needs a value" + SeeHelp(command));
    }
    if (!parsed.options.emplace(name, std::move(value)).second)
      UsageError(std::string(command) + ": --" + name + " given twice" + SeeHelp(command));
  }
  return parsed;
}

void RequirePositional(const CommandArgs& args, std::size_t count, std::string_view what,
                       std::string_view command) {
  if (args.positional.size() < count)
    UsageError(std::string(command) + ": missing " + std::string(what) + SeeHelp(command));
  if (args.positional.size() > count)
    UsageError(std::string(command) + ": unexpected argument '" + args.positional[count] + "'" +
               SeeHelp(command));
}

long long ParseRowId(const std::string& text, std::string_view what) {
  long long id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    DataError(std::string(what) + " '" + text + "' is not a number");
  return id;
}

int ParseCountOption(const CommandArgs& args, std::string_view name, int fallback) {
  if (!args.Has(name)) return fallback;
  const std::string text = args.Optional(name);
  const long long count = ParseRowId(text, "--" + std::string(name));
  if (count < 1 || count > 1000000)
    DataError("--" + std::string(name) + " '" + text + "' is not a number from 1 to 1000000");
  return static_cast<int>(count);
}

}  // namespace veltrane::admin
