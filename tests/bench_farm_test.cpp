#include "tools/bench_farm.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace veltrane::bench {
namespace {

using std::chrono::milliseconds;

// A client connection to the farm on 127.0.0.1; closed when it goes.
class Client {
 public:
  explicit Client(const BenchFarm& farm) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    const std::string url = farm.Url("");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::stoi(url.substr(url.rfind(':') + 1)));
    connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Client() { close(socket_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Ask(const std::string& path) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    return connected_ && send(socket_, request.data(), request.size(), MSG_NOSIGNAL) ==
                             static_cast<ssize_t>(request.size());
  }
  // Everything up to and including the answer's body "ok".
  std::string Answer() {
    std::string bytes;
    char chunk[4096];
    while (bytes.find("\r\n\r\nok") == std::string::npos) {
      const ssize_t n = recv(socket_, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return bytes;
  }

 private:
  int socket_;
  bool connected_ = false;
};

FarmAnswer Ok(const FarmRequest&) { return {200, "text/plain", "ok", ""}; }

TEST(BenchFarmTest, LatencyHoldsEveryAnswerBackWhileOtherConnectionsAreRead) {
  constexpr milliseconds kLatency(1500);
  BenchFarm farm(&Ok, kLatency);
  EXPECT_EQ(farm.Latency(), kLatency);
  constexpr int kClients = 4;
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<Client>(farm));
    ASSERT_TRUE(clients.back()->Ask("/page/" + std::to_string(i)));
  }
  for (auto& client : clients)
    EXPECT_NE(client->Answer().find("HTTP/1.1 200 OK"), std::string::npos);

  // An answer is logged just after it is written.
  ASSERT_TRUE(
      farm.WaitFor([](const std::vector<FarmLogEntry>& log) { return log.size() == kClients; },
                   milliseconds(10000)));
  const std::vector<FarmLogEntry> log = farm.Log();
  Clock::time_point firstAnswer = Clock::time_point::max();
  for (const FarmLogEntry& entry : log) {
    EXPECT_GE(entry.answered - entry.received, kLatency) << entry.path;
    firstAnswer = std::min(firstAnswer, entry.answered);
  }
  // Every request was read while the others were held back: the waits overlap.
  for (const FarmLogEntry& entry : log) EXPECT_LT(entry.received, firstAnswer) << entry.path;
}

}  // namespace
}  // namespace veltrane::bench
