// The request head deadline end to end: clients that connect and send
// nothing, or their head a byte now and then, are closed once HeadTimeout has
// passed, while a tunnel that went quiet after its CONNECT stays open.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

using Seconds = std::chrono::duration<double>;

constexpr auto kHeadTimeout = 1s;
const std::string kSettings = "LocalHosts=127.0.0.1\r\nHeadTimeout=1\r\n";

// The far end of a tunnel: echoes what one connection sends until it closes.
class EchoOrigin {
 public:
  EchoOrigin() {
    listener_ = ListenOnLoopback(1, port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~EchoOrigin() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }

 private:
  void Serve() {
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0) SendAll(fd, std::string(buffer, static_cast<size_t>(n)));
    ::close(fd);
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// Sends one byte of an unfinished head every 200 ms until the gateway closes
// the connection or `limit` passes; returns the seconds until the close, or
// a negative value when it stayed open.
double SecondsUntilClosedWhileTrickling(int fd, std::chrono::seconds limit) {
  auto start = std::chrono::steady_clock::now();
  SendAll(fd, "GET http://127.0.0.1/ HTTP/1.0\r\nX-Slow: ");
  while (std::chrono::steady_clock::now() - start < limit) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) > 0) {
      char byte;
      if (::recv(fd, &byte, 1, 0) <= 0) return Seconds(std::chrono::steady_clock::now() - start).count();
      return -1;  // an answer to a head that never ended
    }
    if (::send(fd, "a", 1, MSG_NOSIGNAL) != 1) return Seconds(std::chrono::steady_clock::now() - start).count();
  }
  return -1;
}

TEST(HeadDeadline, SilentAndSlowClientsAreClosedOnceHeadTimeoutHasPassed) {
  ProxyGateway gateway(kSettings);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  int silent = ConnectLoopback(gateway.port);
  int slow = ConnectLoopback(gateway.port);
  ASSERT_GE(silent, 0);
  ASSERT_GE(slow, 0);
  double slowClosedAfter = -1;
  std::thread trickle([&] { slowClosedAfter = SecondsUntilClosedWhileTrickling(slow, 6s); });
  auto start = std::chrono::steady_clock::now();
  bool closed = false;
  std::string answer = ReadUntilClosed(silent, 6s, &closed);
  double silentClosedAfter = Seconds(std::chrono::steady_clock::now() - start).count();
  trickle.join();
  ::close(silent);
  ::close(slow);

  EXPECT_TRUE(closed) << "a silent client still held its connection after 6 s";
  EXPECT_EQ(answer, "") << "the close comes without an answer";
  EXPECT_GE(silentClosedAfter, Seconds(kHeadTimeout).count() - 0.1);
  EXPECT_LT(silentClosedAfter, 4.0);
  EXPECT_GE(slowClosedAfter, Seconds(kHeadTimeout).count() - 0.1)
      << (slowClosedAfter < 0 ? "a slow head still held its connection after 6 s" : "closed too early");
  EXPECT_LT(slowClosedAfter, 4.0);
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST(HeadDeadline, ATunnelQuietLongerThanHeadTimeoutStaysOpen) {
  EchoOrigin origin;
  ProxyGateway gateway(kSettings);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  int fd = ConnectLoopback(gateway.port);
  ASSERT_GE(fd, 0);
  SendAll(fd, "CONNECT 127.0.0.1:" + std::to_string(origin.port()) + " HTTP/1.1\r\n\r\n");
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos) {
    std::string more = ReadBytes(fd, 1);
    if (more.empty()) break;
    head += more;
  }
  ASSERT_EQ(head.substr(0, 12), "HTTP/1.0 200") << head;
  SendAll(fd, "first");
  EXPECT_EQ(ReadBytes(fd, 5), "first");

  std::this_thread::sleep_for(3 * kHeadTimeout);
  SendAll(fd, "after a quiet spell");
  EXPECT_EQ(ReadBytes(fd, 19), "after a quiet spell") << "the quiet tunnel was closed";
  ::close(fd);
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

}  // namespace
}  // namespace brindlex::testing
