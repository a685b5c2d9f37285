// ClientOwners: which of several service instances opened each connection
// to the farm, so that a shared job's sites can be counted per instance
// (every instance's requests come from 127.0.0.1). A thread looks every
// 50 ms at the system's TCP connections to the farm's port (/proc/net/tcp
// and tcp6) and finds the owner of each new one among the instances' process
// trees by its socket (/proc/<pid>/fd). A connection that lives less than
// that may go unseen; one whose answer is held back by the farm's latency is
// always seen.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/bench_farm.h"

namespace veltrane::bench {

class ClientOwners {
 public:
  // `groups`: the instances' process group leaders, in instance order.
  ClientOwners(int farmPort, std::vector<pid_t> groups);
  ~ClientOwners();
  ClientOwners(const ClientOwners&) = delete;
  ClientOwners& operator=(const ClientOwners&) = delete;

  // The instance whose connection from `clientPort` was open when an answer
  // on it was written at `answered`; -1 when none was seen.
  int OwnerOf(int clientPort, Clock::time_point answered) const;

 private:
  struct Sighting {
    Clock::time_point at;
    unsigned long inode = 0;
    int owner = -1;
  };
  void Look();

  int farmPort_;
  std::vector<pid_t> groups_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::map<int, std::vector<Sighting>> byPort_;  // in the order seen
  std::thread looker_;
};

}  // namespace veltrane::bench
