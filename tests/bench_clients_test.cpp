#include "tools/bench_clients.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace veltrane::bench {
namespace {

using std::chrono::milliseconds;

FarmAnswer Ok(const FarmRequest&) { return {200, "text/plain", "ok", ""}; }

// Child processes, each leading a group of its own, that ask the farm for a
// path and then keep their connection open until the object goes.
class Clients {
 public:
  ~Clients() {
    for (const pid_t group : groups_) {
      kill(-group, SIGKILL);
      waitpid(group, nullptr, 0);
    }
  }
  void Start(const BenchFarm& farm, const std::string& path) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(farm.Port()));
    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
      if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
          send(socket, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size()))
        _exit(1);
      for (;;) pause();
    }
    setpgid(pid, pid);
    groups_.push_back(pid);
  }
  const std::vector<pid_t>& Groups() const { return groups_; }

 private:
  std::vector<pid_t> groups_;
};

TEST(ClientOwnersTest, EachConnectionCountsForTheProcessGroupThatOpenedIt) {
  BenchFarm farm(&Ok, milliseconds(300));
  Clients clients;
  clients.Start(farm, "/client/0");
  clients.Start(farm, "/client/1");
  ClientOwners owners(farm.Port(), clients.Groups());
  ASSERT_TRUE(farm.WaitFor([](const auto& log) { return log.size() == 2; }, milliseconds(10000)));
  for (const FarmLogEntry& entry : farm.Log()) {
    const int client = entry.path.back() - '0';
    EXPECT_EQ(client, owners.OwnerOf(entry.clientPort, entry.answered)) << entry.path;
  }
  EXPECT_EQ(-1, owners.OwnerOf(farm.Port(), Clock::now()));  // nobody's client port
}

}  // namespace
}  // namespace veltrane::bench
