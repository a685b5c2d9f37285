// The processes of a benchmark run. A service is started in a process group
// of its own, in its folder, with a runtime, cache and data folder of that
// folder's, so that runs see neither each other's single-instance lock nor a
// shared cache. What belongs to it is its group and every process descended
// from it (one that left the group still counts).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace veltrane::bench {

// Starts `executable` in `work` as the leader of a new process group, its
// standard error in work/service.log. `environment` ("NAME=value") adds to
// the benchmark's own, replacing what it has of the same name.
pid_t SpawnInFolder(const std::string& executable, const std::string& work,
                    const std::vector<std::string>& environment = {},
                    const std::string& argument = {});

struct ProcessEntry {
  long pid = 0;
  long parent = 0;
  long group = 0;
  std::string command;
  std::filesystem::path path;  // /proc/<pid>
};

// The live processes of the system (zombies are not), from /proc.
std::vector<ProcessEntry> LiveProcesses();

// Those of `processes` that belong to the group `group` leads.
std::vector<ProcessEntry> ProcessTree(pid_t group, const std::vector<ProcessEntry>& processes);

}  // namespace veltrane::bench
