// The relay of large transfers end to end: response bodies and CONNECT
// tunnels against clients that read slowly or leave, and a server that sends
// more than it declared.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

constexpr size_t kBigSize = 4 * 1024 * 1024;

// A client with a small receive buffer that takes 4 KB at a time with a
// pause in between, so the gateway keeps finding it full.
int SlowClient(int port) { return ConnectLoopback(port, 8 * 1024); }

std::string ReadSlowlyUntilClosed(int fd, std::chrono::seconds limit = 60s) {
  std::string data;
  char piece[4096];
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) continue;
    ssize_t n = ::recv(fd, piece, sizeof(piece), 0);
    if (n <= 0) break;
    data.append(piece, static_cast<size_t>(n));
    std::this_thread::sleep_for(100us);
  }
  return data;
}

std::string BodyOf(const std::string& response) {
  size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : response.substr(end + 4);
}

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    origin_.Serve("big.bin", RandomBytes(kBigSize));
    origin_.Serve("small.txt", "still here\n");
    ASSERT_TRUE(origin_.Start()) << ReadFile(origin_.folder() + "/error.log");
  }
  std::string OriginUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(origin_.port()) + path;
  }
  NginxOrigin origin_;
};

TEST_F(RelayTest, ASlowClientGetsEveryByteOfAResponseAndOfATunnel) {
  ProxyGateway gateway("LocalHosts=127.0.0.1\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  int fd = SlowClient(gateway.port);
  ASSERT_GE(fd, 0);
  SendAll(fd, "GET " + OriginUrl("/big.bin") + " HTTP/1.0\r\n\r\n");
  std::string response = ReadSlowlyUntilClosed(fd);
  ::close(fd);
  EXPECT_EQ(response.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_TRUE(BodyOf(response) == RandomBytes(kBigSize)) << "got " << BodyOf(response).size() << " bytes";

  fd = SlowClient(gateway.port);
  ASSERT_GE(fd, 0);
  SendAll(fd, "CONNECT 127.0.0.1:" + std::to_string(origin_.port()) + " HTTP/1.1\r\n\r\n");
  // Nothing follows the gateway's answer before the request goes through.
  std::string established;
  while (established.find("\r\n\r\n") == std::string::npos) {
    std::string more = ReadBytes(fd, 1);
    if (more.empty()) break;
    established += more;
  }
  EXPECT_EQ(established.substr(0, 12), "HTTP/1.0 200") << established;
  SendAll(fd, "GET /big.bin HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  response = ReadSlowlyUntilClosed(fd);
  ::close(fd);
  EXPECT_EQ(response.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_TRUE(BodyOf(response) == RandomBytes(kBigSize)) << "got " << BodyOf(response).size() << " bytes";
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(RelayTest, AClientLeavingMidTransferEndsOnlyItsOwnConnection) {
  ProxyGateway gateway("LocalHosts=127.0.0.1\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  for (int i = 0; i < 5; ++i) {
    int fd = SlowClient(gateway.port);
    ASSERT_GE(fd, 0);
    SendAll(fd, "GET " + OriginUrl("/big.bin") + " HTTP/1.0\r\n\r\n");
    EXPECT_GE(ReadBytes(fd, 100 * 1024).size(), 100u * 1024);
    ::close(fd);
  }
  int rc = -1;
  EXPECT_EQ(Curl(gateway.Proxy(), OriginUrl("/small.txt"), &rc), "still here\n");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

// An origin that declares a length, sends its body after a pause (so that it
// does not arrive with the head) followed by bytes that are not part of it,
// and then keeps the connection open.
class TalkativeOrigin {
 public:
  TalkativeOrigin() : body_(RandomBytes(200 * 1000)) {
    listener_ = ListenOnLoopback(4, port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TalkativeOrigin() {
    done_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }
  const std::string& body() const { return body_; }

 private:
  void Serve() {
    int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) head += c;
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body_.size()) + "\r\n\r\n");
    std::this_thread::sleep_for(200ms);
    SendAll(fd, body_ + "NOT PART OF THE ANSWER");
    while (!done_) std::this_thread::sleep_for(10ms);
    ::close(fd);
  }

  std::string body_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST(Relay, TheDeclaredLengthEndsTheAnswerWhileTheServerStaysConnected) {
  TalkativeOrigin origin;
  ProxyGateway gateway("LocalHosts=127.0.0.1\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  int fd = ConnectLoopback(gateway.port);
  ASSERT_GE(fd, 0);
  SendAll(fd, "GET http://127.0.0.1:" + std::to_string(origin.port()) + "/x HTTP/1.0\r\n\r\n");
  bool closed = false;
  std::string response = ReadUntilClosed(fd, 10s, &closed);
  ::close(fd);
  EXPECT_TRUE(closed) << "the gateway ends the answer itself";
  EXPECT_TRUE(BodyOf(response) == origin.body()) << "got " << BodyOf(response).size() << " bytes";
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

}  // namespace
}  // namespace brindlex::testing
