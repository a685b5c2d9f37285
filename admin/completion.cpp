#include "admin/completion.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string_view>

#include "admin/commands.h"

namespace veltrane::admin {
namespace {

enum class Wanted { Nothing, Site, Release };

// What a usage line asks for: its options (with whether they take a value)
// and its positional words in order, e.g. "NAME --release NAME [--submit]".
struct UsageShape {
  std::vector<std::pair<std::string, bool>> options;  // "--release", takes a value
  std::vector<std::string> positional;                // "NAME"
};

bool IsValueWord(std::string_view word) {
  return !word.empty() && std::all_of(word.begin(), word.end(), [](unsigned char c) {
    return std::isupper(c) || std::isdigit(c) || c == ',' || c == '_';
  });
}

UsageShape ShapeOf(std::string_view usage) {
  std::string text(usage);
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '[' || c == ']' || c == '|'; }, ' ');
  std::istringstream words(text);
  std::vector<std::string> tokens;
  for (std::string word; words >> word;) tokens.push_back(word);
  UsageShape shape;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].starts_with("--")) {
      const bool takesValue = i + 1 < tokens.size() && IsValueWord(tokens[i + 1]);
      shape.options.emplace_back(tokens[i], takesValue);
      if (takesValue) ++i;
    } else if (IsValueWord(tokens[i])) {
      shape.positional.push_back(tokens[i]);
    }
  }
  return shape;
}

Wanted NameKind(std::string_view group, std::string_view word) {
  if (word == "SITE") return Wanted::Site;  // an existing one: "add" takes a new NAME
  if (word == "NAME") {
    if (group == "site") return Wanted::Site;
    if (group == "release") return Wanted::Release;
  }
  return Wanted::Nothing;
}

Wanted OptionValueKind(std::string_view option) {
  if (option == "--release") return Wanted::Release;
  if (option == "--sites") return Wanted::Site;
  return Wanted::Nothing;
}

// What may follow the words typed after a command's own words.
std::vector<std::string> AfterCommand(const Command& command, std::span<const std::string> rest,
                                      const std::string& current, const CompletionNames& names) {
  const UsageShape shape = ShapeOf(command.usage);
  std::size_t positional = 0;
  Wanted wanted = Wanted::Nothing;
  bool valueOfOption = false;
  for (const std::string& word : rest) {
    if (valueOfOption) {
      valueOfOption = false;
      continue;
    }
    const auto option = std::find_if(shape.options.begin(), shape.options.end(),
                                     [&](const auto& known) { return known.first == word; });
    if (option != shape.options.end())
      valueOfOption = option->second;
    else if (!word.starts_with("--"))
      ++positional;
  }
  if (valueOfOption) {
    wanted = OptionValueKind(rest.back());
  } else if (current.starts_with("-")) {
    std::vector<std::string> options{"--help"};
    for (const auto& [name, takesValue] : shape.options) options.push_back(name);
    return options;
  } else if (positional < shape.positional.size() && command.name != "add") {
    wanted = NameKind(command.group, shape.positional[positional]);
  }
  std::vector<std::string> found;
  if (wanted == Wanted::Site && names.sites) found = names.sites();
  if (wanted == Wanted::Release && names.releases) found = names.releases();
  // --sites takes a list: the names complete its last entry.
  if (valueOfOption && rest.back() == "--sites") {
    const std::string listed = current.substr(0, current.rfind(',') + 1);
    for (std::string& name : found) name = listed + name;
  }
  return found;
}

std::vector<std::string> Candidates(std::span<const std::string> typed, const std::string& current,
                                    const CompletionNames& names) {
  const auto commands = AllCommands();
  std::vector<std::string> words;
  if (typed.empty()) {
    words = {"--help", "--version", "--dir"};
    for (const Command& command : commands) {
      const std::string_view first = command.group.empty() ? command.name : command.group;
      if (std::find(words.begin(), words.end(), first) == words.end()) words.emplace_back(first);
    }
    return words;
  }
  for (const Command& command : commands) {
    if (command.group.empty() && command.name == typed[0])
      return AfterCommand(command, typed.subspan(1), current, names);
    if (command.group != typed[0]) continue;
    if (typed.size() == 1)
      words.emplace_back(command.name);
    else if (command.name == typed[1])
      return AfterCommand(command, typed.subspan(2), current, names);
  }
  return words;
}

}  // namespace

std::vector<std::string> CompletionCandidates(std::span<const std::string> typed,
                                              const std::string& current,
                                              const CompletionNames& names) {
  std::vector<std::string> candidates = Candidates(typed, current, names);
  std::erase_if(candidates,
                [&](const std::string& candidate) { return !candidate.starts_with(current); });
  return candidates;
}

}  // namespace veltrane::admin
