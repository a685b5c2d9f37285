// The arguments of one command: positional words, "--name value" or
// "--name=value" options from a list the command accepts, "--name" flags
// from another, "--help", and "--" to end the options. Anything else that
// starts with "--" is a usage error.
#pragma once

#include <initializer_list>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane::admin {

struct CommandArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string, std::less<>> options;  // name without "--"
  std::set<std::string, std::less<>> flags;                 // name without "--"
  bool help = false;

  bool Has(std::string_view name) const { return options.find(name) != options.end(); }
  bool Flag(std::string_view name) const { return flags.find(name) != flags.end(); }
  // The option's value; a usage error naming `command` when it is missing.
  const std::string& Required(std::string_view name, std::string_view command) const;
  // The value, or `fallback` when the option is absent.
  std::string Optional(std::string_view name, std::string_view fallback = "") const;
};

// `valueOptions` are the names that take a value, `flagOptions` those that
// take none; a name given twice is a usage error.
CommandArgs ParseCommandArgs(std::span<const std::string> args,
                             std::initializer_list<std::string_view> valueOptions,
                             std::string_view command,
                             std::initializer_list<std::string_view> flagOptions = {});

// Requires exactly `count` positional words, naming them in the error.
void RequirePositional(const CommandArgs& args, std::size_t count, std::string_view what,
                       std::string_view command);

// A row id written in decimal digits; a data error naming `what` otherwise.
long long ParseRowId(const std::string& text, std::string_view what);

// The value of option `name` as a count from 1 up (--limit, --runs, --days);
// `fallback` when it is absent, a data error when it is not such a number.
int ParseCountOption(const CommandArgs& args, std::string_view name, int fallback);

}  // namespace veltrane::admin
