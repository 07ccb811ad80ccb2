// The metrics page of the real executable: a transfer through the HTTP proxy
// shows up in the figures curl reads from MetricsAddress, under the http
// service; another path is not found.
#include <unistd.h>

#include <gtest/gtest.h>
#include <string>

#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

// The value of the sample `name{labels}` in an exposition text, or -1.
long long Sample(const std::string& text, const std::string& sample) {
  const std::string line = "\n" + sample + " ";
  size_t at = text.find(line);
  if (at == std::string::npos) return -1;
  return std::stoll(text.substr(at + line.size()));
}

// curl straight at the metrics page, never through a proxy.
std::string Fetch(const std::string& url, int* exitCode, const std::string& options = "") {
  return RunProgram("curl -sS --max-time 10 --noproxy '*' " + options + " '" + url + "'", exitCode);
}

class MetricsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    origin_.Serve("blob.bin", RandomBytes(200 * 1024));
    ASSERT_TRUE(origin_.Start()) << ReadFile(origin_.folder() + "/error.log");
  }
  NginxOrigin origin_;
};

TEST_F(MetricsTest, ATransferThroughTheProxyIsCountedUnderHttp) {
  const int metricsPort = FreePort();
  const std::string page = "http://127.0.0.1:" + std::to_string(metricsPort);
  ProxyGateway gateway("LocalHosts=127.0.0.1\r\nMetricsAddress=127.0.0.1:" + std::to_string(metricsPort) + "\r\n");
  int rc = -1;
  const std::string before = Fetch(page + "/metrics", &rc);
  ASSERT_EQ(rc, 0) << before;
  EXPECT_EQ(Sample(before, "brindlex_listening{service=\"http\",port=\"" + std::to_string(gateway.port) + "\"}"), 1)
      << before;
  const long long acceptedBefore = Sample(before, "brindlex_connections_accepted_total{service=\"http\"}");
  const long long toClientsBefore = Sample(before, "brindlex_bytes_to_clients_total{service=\"http\"}");
  ASSERT_GE(acceptedBefore, 0) << before;
  ASSERT_GE(toClientsBefore, 0) << before;

  const std::string url = "http://127.0.0.1:" + std::to_string(origin_.port()) + "/blob.bin";
  ASSERT_EQ(Curl(gateway.Proxy(), url, &rc), RandomBytes(200 * 1024));
  ASSERT_EQ(rc, 0);

  const std::string head = Fetch(page + "/metrics", &rc, "-i");
  ASSERT_EQ(rc, 0) << head;
  EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("Content-Type: text/plain; version=0.0.4"), std::string::npos) << head;
  const std::string after = head.substr(head.find("\r\n\r\n") + 4);
  EXPECT_EQ(Sample(after, "brindlex_connections_accepted_total{service=\"http\"}"), acceptedBefore + 1) << after;
  // The body and the origin's head came through the gateway; the request
  // went out to the origin.
  EXPECT_GT(Sample(after, "brindlex_bytes_to_clients_total{service=\"http\"}") - toClientsBefore, 200 * 1024) << after;
  EXPECT_GT(Sample(after, "brindlex_bytes_from_clients_total{service=\"http\"}"), 0) << after;
  EXPECT_GE(Sample(after, "brindlex_uptime_seconds"), 0);

  const std::string other = Fetch(page + "/", &rc, "-i");
  EXPECT_EQ(other.rfind("HTTP/1.1 404 ", 0), 0u) << other;
  const std::string post = Fetch(page + "/metrics", &rc, "-i -X POST");
  EXPECT_EQ(post.rfind("HTTP/1.1 405 ", 0), 0u) << post;
}

TEST(MetricsPage, APortThatCannotBeOpenedIsReportedAndTheGatewayGoesOn) {
  int taken = -1;
  const int fd = ListenOnLoopback(4, taken);
  ASSERT_GE(fd, 0);
  ProxyGateway gateway("MetricsAddress=127.0.0.1:" + std::to_string(taken) + "\r\n");
  EXPECT_TRUE(gateway.process->WaitForOutput("127.0.0.1:" + std::to_string(taken))) << gateway.process->Output();
  EXPECT_TRUE(gateway.process->WaitForOutput(HttpOpenLine(gateway.port)));
  int rc = -1;
  Curl(gateway.Proxy(), "http://127.0.0.1:1/", &rc, "-sS -o /dev/null");
  EXPECT_NE(rc, 7) << "the proxy still accepts";
  ::close(fd);
}

}  // namespace
}  // namespace brindlex::testing
