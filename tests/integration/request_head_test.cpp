// Request heads that try to make the gateway say something else upstream than
// what it checked: a Host that disagrees with the URL (and would poison the
// cache), pipelined and smuggled requests behind a body, host texts that are
// no host names; the statuses malformed heads get; and clients that end their
// input once the request is sent.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

using namespace std::string_literals;

const std::string kPagePrefix = "Pragma: no-cach\r\nContent-Type: text/html; charset=utf-8\r\n\r\n";
const std::string kBadRequest = "HTTP/1.0 400 Bad Request\r\n" + kPagePrefix;
const std::string kTooLarge = "HTTP/1.0 431 Request Header Fields Too Large\r\n" + kPagePrefix;
const std::string kLocal = "LocalHosts=127.0.0.1\r\n";

// A loopback origin that keeps every byte the gateway sends on a connection
// until the gateway ends its side or pauses for 300 ms, then answers with a
// fixed response and closes.
class RecordingOrigin {
 public:
  explicit RecordingOrigin(std::string answer) : answer_(std::move(answer)) {
    listener_ = ListenOnLoopback(8, port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RecordingOrigin() {
    done_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  // What the connections so far received, once `count` of them have ended.
  std::vector<std::string> Received(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, 10s, [&] { return received_.size() >= count; });
    return received_;
  }
  // Whether any connection was made at all (after letting a stray one end).
  size_t ConnectionsAfterAWhile() {
    std::this_thread::sleep_for(500ms);
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size() + (accepting_ ? 1 : 0);
  }
  // Whether the last connection ended with the gateway's end of input.
  bool SawEnd() const { return sawEnd_; }

 private:
  void Serve() {
    while (!done_) {
      int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      accepting_ = true;
      std::string got;
      bool ended = false;
      while (true) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 300) <= 0) break;
        char buffer[4096];
        ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
          ended = n == 0;
          break;
        }
        got.append(buffer, static_cast<size_t>(n));
      }
      SendAll(fd, answer_);
      ::close(fd);
      std::lock_guard<std::mutex> lock(mutex_);
      sawEnd_ = ended;
      accepting_ = false;
      received_.push_back(got);
      changed_.notify_all();
    }
  }

  std::string answer_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> done_{false};
  std::atomic<bool> accepting_{false};
  std::atomic<bool> sawEnd_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> received_;
  std::thread thread_;
};

// Each request gets the 400 page and its connection closed, and none of them
// reaches the origin.
template <size_t N>
void ExpectRefusedAsMalformed(ProxyGateway& gateway, RecordingOrigin& origin, const std::string (&cases)[N]) {
  for (const std::string& request : cases) {
    bool closed = false;
    std::string answer = gateway.Exchange(request, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(answer.substr(0, kBadRequest.size()), kBadRequest) << request;
  }
  EXPECT_EQ(origin.ConnectionsAfterAWhile(), 0u);
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nok\n";

// nginx answering every /vhost/ request with the Host it was given, fresh for
// an hour so that the gateway's cache keeps it.
class HostEchoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    origin_.extraServerConfig = "location /vhost/ { expires 1h; return 200 \"served for $http_host\\n\"; }";
    origin_.Serve("small.txt", "small\n");
    ASSERT_TRUE(origin_.Start()) << ReadFile(origin_.folder() + "/error.log");
  }
  std::string Authority() const { return "127.0.0.1:" + std::to_string(origin_.port()); }
  std::string Url(const std::string& path) const { return "http://" + Authority() + path; }
  NginxOrigin origin_;
};

std::string BodyOf(const std::string& response) {
  size_t at = response.find("\r\n\r\n");
  return at == std::string::npos ? "(no head end) " + response : response.substr(at + 4);
}

TEST_F(HostEchoTest, TheOriginHearsTheUrlsHostSoTheCacheKeepsNoOtherServersPage) {
  ProxyGateway gateway(kLocal + "EnableCach=1\r\nCachLocalHosts=1\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string poisoning =
      gateway.Exchange("GET " + Url("/vhost/page2.html") + " HTTP/1.1\r\nHost: evil.test\r\nAccept: */*\r\n\r\n");
  EXPECT_EQ(poisoning.substr(0, 15), "HTTP/1.1 200 OK") << poisoning;
  EXPECT_EQ(BodyOf(poisoning), "served for " + Authority() + "\n");

  // The next user, from the cache or not, gets the page of the URL's server.
  auto deadline = std::chrono::steady_clock::now() + 30s;
  bool cached = false;
  while (!cached && std::chrono::steady_clock::now() < deadline) {
    cached = ReadFile(gateway.home + "/Cache/cache.lst").find("/vhost/page2.html") != std::string::npos;
    std::this_thread::sleep_for(20ms);  // the cache thread saves at its own pace
  }
  EXPECT_TRUE(cached) << "the page went into the cache";
  int rc = -1;
  EXPECT_EQ(Curl(gateway.Proxy(), Url("/vhost/page2.html"), &rc), "served for " + Authority() + "\n");

  // A path-only request names its server in Host; a default port is left out.
  std::string pathOnly = gateway.Exchange("GET /vhost/p HTTP/1.0\r\nHost: " + Authority() + "\r\n\r\n");
  EXPECT_EQ(BodyOf(pathOnly), "served for " + Authority() + "\n");
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(HostEchoTest, TwoHostLinesAreMalformed) {
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  for (const std::string& request :
       {"GET /vhost/p HTTP/1.1\r\nHost: " + Authority() + "\r\nHost: evil.test\r\n\r\n",
        "GET " + Url("/vhost/p") + " HTTP/1.1\r\nHost: " + Authority() + "\r\nhost: " + Authority() + "\r\n\r\n"}) {
    bool closed = false;
    std::string answer = gateway.Exchange(request, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(answer.substr(0, kBadRequest.size()), kBadRequest) << answer;
    EXPECT_NE(answer.find(InstalledMessage(421)), std::string::npos) << "the page and message stay";
  }
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(HostEchoTest, TheParentProxyGetsTheAbsoluteUrlWithAMatchingHost) {
  NginxOrigin parent;
  parent.Serve("small.txt", "from the parent\n");
  ASSERT_TRUE(parent.Start());
  ProxyGateway gateway(
      kLocal + "EnableParentProxy=1\r\nCascadeIP=127.0.0.1\r\nCascadePort=" + std::to_string(parent.port()) + "\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string answer = gateway.Exchange("GET " + Url("/small.txt") + " HTTP/1.1\r\nHost: evil.test\r\n\r\n");
  EXPECT_EQ(BodyOf(answer), "from the parent\n");
  std::string log = parent.WaitForLog(1);
  EXPECT_EQ(log.substr(0, log.find(" | ")), "GET " + Url("/small.txt") + " HTTP/1.1") << log;
  EXPECT_NE(log.find(" | host=" + Authority() + "\n"), std::string::npos) << log;
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST(RequestBodies, APipelinedRequestNeverGoesUpstreamUnchecked) {
  RecordingOrigin origin(kOk);
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  bool closed = false;
  std::string answer =
      gateway.Exchange("GET " + origin.Url("/first") + " HTTP/1.1\r\n\r\n" + "GET " + origin.Url("/second") +
                           " HTTP/1.1\r\nProxy-Authorization: Basic eDp5\r\n\r\n",
                       &closed);
  EXPECT_TRUE(closed) << "the connection ends with the first answer";
  EXPECT_EQ(BodyOf(answer), "ok\n");
  std::vector<std::string> received = origin.Received(1);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].rfind("GET /first HTTP/1.1\r\n", 0), 0u) << received[0];
  EXPECT_EQ(received[0].find("second"), std::string::npos) << received[0];
  EXPECT_EQ(received[0].substr(received[0].size() - 4), "\r\n\r\n") << "nothing after the head";
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST(RequestBodies, ABodyGoesOnAsFarAsItsDeclaredEndAndNoFurther) {
  RecordingOrigin origin(kOk);
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  const std::string smuggled = "GET " + origin.Url("/smuggled") + " HTTP/1.1\r\n\r\n";
  const std::string chunked = "5\r\nhello\r\n3;x=y\r\nabc\r\n0\r\nTrailer: t\r\n\r\n";
  const std::string requests[] = {
      "POST " + origin.Url("/length") + " HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello" + smuggled,
      "POST " + origin.Url("/chunked") + " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked + smuggled,
  };
  for (const std::string& request : requests) EXPECT_EQ(BodyOf(gateway.Exchange(request)), "ok\n");
  std::vector<std::string> received = origin.Received(2);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].rfind("POST /length HTTP/1.1\r\n", 0), 0u) << received[0];
  EXPECT_NE(received[0].find("\r\nContent-Length: 5\r\n"), std::string::npos) << received[0];
  EXPECT_EQ(received[0].substr(received[0].size() - 9), "\r\n\r\nhello") << received[0];
  EXPECT_EQ(received[1].rfind("POST /chunked HTTP/1.1\r\n", 0), 0u) << received[1];
  EXPECT_NE(received[1].find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos) << received[1];
  EXPECT_EQ(received[1].substr(received[1].size() - chunked.size() - 4), "\r\n\r\n" + chunked) << received[1];
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST(RequestBodies, ConflictingOrInvalidLengthsAreMalformedAndNeverForwarded) {
  RecordingOrigin origin(kOk);
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  const std::string post = "POST " + origin.Url("/x") + " HTTP/1.1\r\n";
  const std::string cases[] = {
      post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
      post + "Transfer-Encoding: chunked\r\nContent-Length: 0\r\n\r\n0\r\n\r\n",
      post + "Content-Length: 5\r\nContent-Length: 40\r\n\r\nhello",
      post + "Content-Length: 5x\r\n\r\nhello",
      post + "Content-Length: -1\r\n\r\n",
      post + "Transfer-Encoding: gzip\r\n\r\nhello",
      post + "Transfer-Encoding : chunked\r\n\r\n0\r\n\r\n",
  };
  ExpectRefusedAsMalformed(gateway, origin, cases);
}

TEST(RequestHosts, AHostMayHoldOnlyHostNameCharactersAndADigitPort) {
  RecordingOrigin origin(kOk);
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  const std::string port = std::to_string(origin.port());
  const std::string cases[] = {
      "GET http://127.0.0.1," + port + "/ HTTP/1.1\r\n\r\n",
      "GET http://127.0.0.1%3A" + port + "/ HTTP/1.1\r\n\r\n",
      "GET http://127.0.0.1\x01:" + port + "/ HTTP/1.1\r\n\r\n",
      "GET http://127.0.0.1:" + port + "x/ HTTP/1.1\r\n\r\n",
      "GET http://127.0.0.1:+" + port + "/ HTTP/1.1\r\n\r\n",
      "GET http://127.0.0.1:70000/ HTTP/1.1\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: 127.0.0.1 :" + port + "\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + port + ", evil.test\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\x7f:" + port + "\r\n\r\n",
  };
  ExpectRefusedAsMalformed(gateway, origin, cases);
}

TEST(RequestHeads, AnOverLongHeadGets431AndTheSamePage) {
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  for (const std::string& request : {"GET / HTTP/1.1\r\nX: " + std::string(9000, 'x'),
                                     "GET http://127.0.0.1/" + std::string(10000, 'u') + " HTTP/1.1\r\n\r\n"}) {
    std::string answer = gateway.Exchange(request);
    EXPECT_EQ(answer.substr(0, kTooLarge.size()), kTooLarge) << answer.substr(0, 200);
    EXPECT_NE(answer.find(InstalledMessage(421)), std::string::npos);
  }
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(HostEchoTest, AClientThatEndsItsInputAfterTheRequestStillGetsTheAnswer) {
  ProxyGateway gateway(kLocal + "EnableFtpHttp=0\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  bool closed = false;
  std::string answer = gateway.Exchange("GET " + Url("/small.txt") + " HTTP/1.1\r\n\r\n", &closed, true);
  EXPECT_TRUE(closed);
  EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << answer;
  EXPECT_EQ(BodyOf(answer), "small\n");

  // The gateway's own answer too.
  answer = gateway.Exchange("GET ftp://127.0.0.1/pub/ HTTP/1.0\r\n\r\n", &closed, true);
  EXPECT_EQ(answer.substr(0, 17 + kPagePrefix.size()), "HTTP/1.0 200 OK\r\n" + kPagePrefix) << answer;
  EXPECT_NE(answer.find(InstalledMessage(426)), std::string::npos) << answer;

  // A body still incomplete when the input ends is no request: nothing comes.
  answer = gateway.Exchange("POST " + Url("/small.txt") + " HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc", &closed, true);
  EXPECT_TRUE(closed);
  EXPECT_EQ(answer, "");
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST(RequestHalfClose, ATunnelPassesTheEndOnAndDeliversTheServersAnswer) {
  RecordingOrigin origin("pong after the end");
  ProxyGateway gateway(kLocal);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  bool closed = false;
  std::string answer =
      gateway.Exchange("CONNECT 127.0.0.1:" + std::to_string(origin.port()) + " HTTP/1.1\r\n\r\nping", &closed, true);
  EXPECT_TRUE(closed);
  EXPECT_EQ(answer, "HTTP/1.0 200 Connection established\r\n" + kPagePrefix + "pong after the end");
  std::vector<std::string> received = origin.Received(1);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], "ping");
  EXPECT_TRUE(origin.SawEnd()) << "the server heard the client's end of input";
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

}  // namespace
}  // namespace brindlex::testing
