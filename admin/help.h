// Help texts of veltrane-admin, built from the command table.
#pragma once

#include <string>
#include <string_view>

#include "admin/commands.h"

namespace veltrane::admin {

std::string MainHelp();
std::string GroupHelp(std::string_view group);
std::string CommandHelp(const Command& command);

}  // namespace veltrane::admin
