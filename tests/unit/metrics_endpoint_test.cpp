// The metrics page's server on loopback: its answers, its bound on clients at
// once, its deadline measured with a clock the test moves, and a port that
// cannot be opened.
#include "console/metrics_endpoint.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/monitor.h"
#include "core/strings.h"
#include "tests/unit/loopback_peer.h"

namespace brindlex {
namespace {

using testing::ConnectTo;
using testing::Receive;

constexpr std::uint32_t kLoopback = 0x7F000001;

class MetricsEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMonitorSink([this](const std::string& line) { monitor_.push_back(line); });
    ASSERT_TRUE(endpoint_.StartOn(kLoopback, 0, [this] {
      ++collected_;
      GatewayFigures figures;
      figures.connections = 42;
      return figures;
    }));
    ASSERT_GT(endpoint_.port(), 0);
  }
  void TearDown() override {
    endpoint_.Stop();
    SetMonitorSink({});
  }

  // Sends `request` on a new connection and returns all that comes back
  // until the server closes.
  std::string Ask(const std::string& request) {
    int fd = ConnectTo(endpoint_.port());
    EXPECT_GE(fd, 0);
    if (fd < 0) return "";
    EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    std::string answer = Receive(fd);
    ::close(fd);
    return answer;
  }

  // Whether the server closes `fd` within `seconds` (reading and dropping
  // whatever it says before).
  static bool ClosedWithin(int fd, int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char buffer[256];
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) != 1) continue;
      if (::recv(fd, buffer, sizeof(buffer), 0) <= 0) return true;
    }
    return false;
  }

  std::atomic<std::int64_t> nowMs_{1000};
  MetricsEndpoint endpoint_{[this] { return nowMs_.load(); }};
  std::atomic<int> collected_{0};
  std::vector<std::string> monitor_;
};

TEST_F(MetricsEndpointTest, AnswersTheFiguresAtTheirPathAndStatusCodesElsewhere) {
  const std::string answer = Ask("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  EXPECT_NE(answer.find("\r\nContent-Type: text/plain; version=0.0.4"), std::string::npos);
  EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos);
  const size_t bodyAt = answer.find("\r\n\r\n") + 4;
  const std::string body = answer.substr(bodyAt);
  EXPECT_NE(answer.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
  EXPECT_NE(body.find("\nbrindlex_connections 42\n"), std::string::npos) << body;
  EXPECT_EQ(collected_, 1);

  EXPECT_EQ(Ask("GET /other HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 404 ", 0), 0u);
  EXPECT_EQ(Ask("PUT /metrics HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 405 ", 0), 0u);
  EXPECT_EQ(Ask("hello\r\n\r\n").rfind("HTTP/1.1 400 ", 0), 0u);
  EXPECT_EQ(Ask("GET /metrics HTTP/1.1\r\nX: " + std::string(9000, 'a')).rfind("HTTP/1.1 400 ", 0), 0u)
      << "a head past its bound";
  EXPECT_EQ(collected_, 1) << "only a 200 collects";
}

TEST_F(MetricsEndpointTest, AHeadInPiecesIsAnsweredWhenItEnds) {
  int fd = ConnectTo(endpoint_.port());
  ASSERT_GE(fd, 0);
  const std::string head = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
  for (char c : head) ASSERT_EQ(::send(fd, &c, 1, MSG_NOSIGNAL), 1);
  EXPECT_EQ(Receive(fd).rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  ::close(fd);
}

TEST_F(MetricsEndpointTest, ANinthClientIsTurnedAwayWhileEightAreServed) {
  std::vector<int> held;
  for (int i = 0; i < kMetricsClients; ++i) {
    int fd = ConnectTo(endpoint_.port());
    ASSERT_GE(fd, 0);
    held.push_back(fd);
    // Half a head each: the server has taken every one of them in before the
    // next connects (a byte is only answered by a taken client).
    ASSERT_EQ(::send(fd, "GET /", 5, MSG_NOSIGNAL), 5);
  }
  // The eight are taken in order; the one accepted after them gets 503.
  EXPECT_EQ(Ask("GET /metrics HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 503 ", 0), 0u);
  ::close(held.back());
  held.pop_back();
  // A freed place serves again (the close is seen before or with the next
  // accept: the server looks at its clients first).
  std::string answer;
  for (int attempt = 0; attempt < 20 && answer.rfind("HTTP/1.1 200", 0) != 0; ++attempt)
    answer = Ask("GET /metrics HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u) << answer;
  for (int fd : held) ::close(fd);
}

TEST_F(MetricsEndpointTest, AClientSilentPastItsDeadlineIsClosed) {
  int fd = ConnectTo(endpoint_.port());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::send(fd, "GET /metrics", 12, MSG_NOSIGNAL), 12);
  // Clients are taken in the order they connected: once a later one is
  // answered, the silent one's time runs from the clock's present count.
  ASSERT_EQ(Ask("GET /metrics HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 200", 0), 0u);
  nowMs_ += kMetricsClientSeconds * 1000 - 1;
  EXPECT_FALSE(ClosedWithin(fd, 1)) << "still within its time";
  nowMs_ += 2;
  EXPECT_TRUE(ClosedWithin(fd, 5));
  ::close(fd);
}

TEST(MetricsEndpoint, APortInUseOrAnAddressNotUnderstoodGivesAMonitorLine) {
  std::vector<std::string> monitor;
  SetMonitorSink([&monitor](const std::string& line) { monitor.push_back(line); });
  MetricsEndpoint first;
  ASSERT_TRUE(first.StartOn(kLoopback, 0, [] { return GatewayFigures{}; }));
  const std::string taken = "127.0.0.1:" + std::to_string(first.port());
  MetricsEndpoint second;
  EXPECT_FALSE(second.Start(taken, [] { return GatewayFigures{}; }));
  EXPECT_FALSE(second.running());
  EXPECT_FALSE(second.Start("localhost:9469", [] { return GatewayFigures{}; }));
  EXPECT_TRUE(second.Start("", [] { return GatewayFigures{}; })) << "empty: no page, nothing wrong";
  EXPECT_FALSE(second.running());
  ASSERT_EQ(monitor.size(), 2u);
  EXPECT_NE(monitor[0].find(taken), std::string::npos) << monitor[0];
  EXPECT_NE(monitor[0].find(std::strerror(EADDRINUSE)), std::string::npos) << monitor[0];
  EXPECT_NE(monitor[1].find("localhost:9469"), std::string::npos) << monitor[1];
  SetMonitorSink({});
}

}  // namespace
}  // namespace brindlex
