// The commands of veltrane-admin and their help. Each handler parses its own
// arguments (after the command words), does its work and throws CommandError on
// failure; a command that fails has changed nothing.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "admin/admin_context.h"

namespace veltrane::admin {

using Arguments = std::span<const std::string>;
using CommandHandler = void (*)(AdminContext&, Arguments);

struct Command {
  std::string_view group;  // "release"; empty for a command of one word
  std::string_view name;   // "add"
  std::string_view usage;  // what follows the command words
  std::string_view summary;
  std::string_view details;
  CommandHandler run;
  std::string_view appendix = {};  // a longer text shared by several commands
};

std::span<const Command> AllCommands();

void RunInit(AdminContext& context, Arguments args);
void RunStatus(AdminContext& context, Arguments args);
void RunCopy(AdminContext& context, Arguments args);
void RunReleaseAdd(AdminContext& context, Arguments args);
void RunReleaseUpdate(AdminContext& context, Arguments args);
void RunReleaseList(AdminContext& context, Arguments args);
void RunReleaseShow(AdminContext& context, Arguments args);
void RunSiteAdd(AdminContext& context, Arguments args);
void RunSiteUpdate(AdminContext& context, Arguments args);
void RunSiteList(AdminContext& context, Arguments args);
void RunSiteShow(AdminContext& context, Arguments args);
void RunSiteCheck(AdminContext& context, Arguments args);
void RunAccountSet(AdminContext& context, Arguments args);
void RunScheduleAdd(AdminContext& context, Arguments args);
void RunScheduleList(AdminContext& context, Arguments args);
void RunScheduleRunNow(AdminContext& context, Arguments args);
void RunHistoryList(AdminContext& context, Arguments args);
void RunHistoryShow(AdminContext& context, Arguments args);
void RunSiteHistory(AdminContext& context, Arguments args);
void RunSiteStats(AdminContext& context, Arguments args);
void RunServe(AdminContext& context, Arguments args);
void RunScheduleRemove(AdminContext& context, Arguments args);
void RunScheduleDisable(AdminContext& context, Arguments args);
void RunScheduleEnable(AdminContext& context, Arguments args);
void RunSiteRemove(AdminContext& context, Arguments args);
void RunReleaseRemove(AdminContext& context, Arguments args);
void RunHistoryPrune(AdminContext& context, Arguments args);

}  // namespace veltrane::admin
