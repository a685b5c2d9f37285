// Help texts of veltrane-admin, built from the command table.
#pragma once

#include <string>
#include <string_view>

#include "admin/commands.h"

namespace veltrane::admin {

// "group name usage" ("release add FILE").
std::string CommandLine(const Command& command);
// The exit codes every command shares.
std::string_view ExitCodesText();
// What the tool works on, and which folder it takes without --dir.
std::string_view AdminDescription();

std::string MainHelp();
std::string GroupHelp(std::string_view group);
std::string CommandHelp(const Command& command);

}  // namespace veltrane::admin
