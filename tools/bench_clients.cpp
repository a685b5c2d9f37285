#include "tools/bench_clients.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/bench_process.h"

namespace veltrane::bench {
namespace {

// The port of a /proc/net/tcp address ("0100007F:1F90").
int PortOf(const std::string& address) {
  const std::size_t colon = address.rfind(':');
  return colon == std::string::npos ? -1 : std::stoi(address.substr(colon + 1), nullptr, 16);
}

// Client port to socket inode of every connection to `farmPort`.
std::map<int, unsigned long> ConnectionsTo(int farmPort) {
  std::map<int, unsigned long> connections;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
      unsigned long inode = 0;
      if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode))
        continue;
      if (PortOf(remote) == farmPort && inode != 0) connections[PortOf(local)] = inode;
    }
  }
  return connections;
}

// The socket inodes held open by the processes of `group`'s tree.
std::vector<unsigned long> SocketsOf(pid_t group, const std::vector<ProcessEntry>& processes) {
  std::vector<unsigned long> inodes;
  for (const ProcessEntry& process : ProcessTree(group, processes)) {
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator(process.path / "fd", error)) {
      const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
      if (!error && target.rfind("socket:[", 0) == 0)
        inodes.push_back(std::stoul(target.substr(8)));
    }
  }
  return inodes;
}

}  // namespace

ClientOwners::ClientOwners(int farmPort, std::vector<pid_t> groups)
    : farmPort_(farmPort), groups_(std::move(groups)) {
  looker_ = std::thread([this] {
    while (!stopping_) {
      Look();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
}

ClientOwners::~ClientOwners() {
  stopping_ = true;
  looker_.join();
}

void ClientOwners::Look() {
  const Clock::time_point now = Clock::now();
  std::map<int, unsigned long> fresh;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [port, inode] : ConnectionsTo(farmPort_)) {
      const auto known = byPort_.find(port);
      if (known == byPort_.end() || known->second.back().inode != inode) fresh[port] = inode;
    }
  }
  if (fresh.empty()) return;
  // Only when something new appeared: reading every process's sockets costs.
  const std::vector<ProcessEntry> processes = LiveProcesses();
  std::map<unsigned long, int> owners;
  for (std::size_t instance = 0; instance < groups_.size(); ++instance)
    for (unsigned long inode : SocketsOf(groups_[instance], processes))
      owners[inode] = static_cast<int>(instance);
  std::lock_guard lock(mutex_);
  for (const auto& [port, inode] : fresh) {
    const auto owner = owners.find(inode);
    byPort_[port].push_back({now, inode, owner == owners.end() ? -1 : owner->second});
  }
}

int ClientOwners::OwnerOf(int clientPort, Clock::time_point answered) const {
  std::lock_guard lock(mutex_);
  const auto sightings = byPort_.find(clientPort);
  if (sightings == byPort_.end()) return -1;
  // The last connection from that port seen before the answer went out.
  const Sighting* match = &sightings->second.front();
  for (const Sighting& sighting : sightings->second)
    if (sighting.at <= answered) match = &sighting;
  return match->owner;
}

}  // namespace veltrane::bench
