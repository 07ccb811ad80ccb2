// The HTTP cache end to end: curl and raw sockets through the real gateway to
// nginx on loopback. Whether a request reached the origin is read from
// nginx's status log, after a fence request made directly to nginx has been
// logged, so every earlier request is known to be there too.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/groups.h"
#include "core/users.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

const std::string kHeuristicWarning = "Warning: 13 Brindlex Heuristic expiration\r\n";
const std::string kStaleWarning = "Warning: 10 Brindlex Response is stale\r\n";

// Locations of the origin: fresh for an hour; no validators or lifetime at
// all (twice: the second a page made for the user its X-Who names); expired long ago (with Last-Modified and ETag, as every static file);
// stale at once and never to be served stale; setting a cookie; and one that
// sends at 1 MB/s after its first 64 KB.
const char* kLocations =
    "location /fresh/ { expires 1h; } "
    "location = /plain.txt { return 200 \"no validators\\n\"; } "
    "location = /who { add_header X-Who $http_x_who; return 200 \"made for $http_x_who\\n\"; } "
    "location /stale/ { add_header Expires \"Thu, 01 Jan 2015 00:00:00 GMT\"; } "
    "location /strict/ { add_header Cache-Control \"max-age=0, must-revalidate\"; } "
    "location /cookie/ { expires 1h; add_header Set-Cookie \"session=1\"; } "
    "location /slow/ { expires 1h; limit_rate_after 64k; limit_rate 1m; }";

// The value of a header line in a response head, or "" without one.
std::string HeaderValue(const std::string& response, const std::string& name) {
  size_t at = response.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  return response.substr(at, response.find("\r\n", at) - at);
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// The shared proxy gateway, plus a wait on the cache thread's index file.
struct Gateway : ProxyGateway {
  using ProxyGateway::ProxyGateway;
  // Waits until the index file written by the cache thread names `url`.
  bool WaitUntilIndexed(const std::string& url, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (ReadFile(home + "/Cache/cache.lst").find(url) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the cache thread saves on its own pace
    }
    return false;
  }
};

// The object files in the cache folder.
std::vector<std::string> ObjectFiles(const std::string& home) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(home + "/Cache"))
    if (entry.path().extension() == ".ch") files.push_back(entry.path().string());
  return files;
}

// An origin of its own that answers every request with the same bytes and
// then closes: an answer cut off before its end, as a crashed or
// disconnected server leaves it.
class CuttingOrigin {
 public:
  explicit CuttingOrigin(std::string answer) : answer_(std::move(answer)) {
    listener_ = ListenOnLoopback(4, port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~CuttingOrigin() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int requests() const { return requests_; }

 private:
  void Serve() {
    for (int fd; (fd = ::accept(listener_, nullptr, nullptr)) >= 0;) {
      std::string head;
      char c;
      while (head.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) head += c;
      ++requests_;
      SendAll(fd, answer_);
      ::close(fd);
    }
  }

  std::string answer_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<int> requests_{0};
  std::thread thread_;
};

const std::string kCaching = "LocalHosts=127.0.0.1\r\nEnableCach=1\r\nCachLocalHosts=1\r\n";

class HttpCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    origin_.extraServerConfig = kLocations;
    origin_.Serve("fence", "fence\n");
    ASSERT_TRUE(RunProgram("mkdir -p '" + origin_.folder() + "/www/fresh' '" + origin_.folder() + "/www/stale' '" +
                           origin_.folder() + "/www/strict' '" + origin_.folder() + "/www/cookie' '" +
                           origin_.folder() + "/www/slow'")
                    .empty());
    ASSERT_TRUE(origin_.Start()) << ReadFile(origin_.folder() + "/error.log");
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(origin_.port()) + path; }

  // curl through the gateway with the head (-i); `extra` adds options.
  std::string Get(const Gateway& gateway, const std::string& path, const std::string& extra = "") {
    int rc = -1;
    std::string out =
        RunProgram("curl -s -i --max-time 20 " + extra + " -x " + gateway.Proxy() + " '" + Url(path) + "'", &rc);
    EXPECT_EQ(rc, 0) << path;
    return out;
  }
  static std::string Body(const std::string& response) {
    size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? "" : response.substr(at + 4);
  }

  // The status-log lines of the origin for `path`, once every request made
  // so far has been logged.
  std::vector<std::string> OriginLines(const std::string& path) {
    ++fences_;
    RunProgram("curl -s --noproxy '*' --max-time 10 '" + Url("/fence") + "'");
    std::string log;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Occurrences(log, " GET /fence ") < fences_ && std::chrono::steady_clock::now() < deadline)
      log = origin_.WaitForStatusLog(Occurrences(log, "\n") + 1, std::chrono::milliseconds(200));
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
      std::string line = log.substr(at, end - at);
      if (line.find(" GET " + path + " ") != std::string::npos) lines.push_back(line);
    }
    return lines;
  }

  NginxOrigin origin_;
  size_t fences_ = 0;
};

TEST_F(HttpCacheTest, ASecondRequestIsServedFromTheCacheAndTheClientsTagGets304) {
  origin_.Serve("fresh/page.html", "a fresh page\n");
  Gateway gateway(kCaching);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  std::string first = Get(gateway, "/fresh/page.html");
  std::string second = Get(gateway, "/fresh/page.html");
  EXPECT_EQ(Body(second), "a fresh page\n");
  EXPECT_EQ(OriginLines("/fresh/page.html").size(), 1u) << "the second came from the cache";
  EXPECT_EQ(HeaderValue(first, "Age"), "");
  EXPECT_NE(HeaderValue(second, "Age"), "") << second;
  EXPECT_EQ(Occurrences(second, "\r\nDate: "), 1u) << second;
  EXPECT_EQ(HeaderValue(second, "Date"), HeaderValue(first, "Date")) << "the date the origin gave";
  EXPECT_EQ(HeaderValue(second, "ETag"), HeaderValue(first, "ETag"));
  EXPECT_EQ(Occurrences(second, "Warning:"), 0u);

  std::string etag = HeaderValue(first, "ETag");
  ASSERT_NE(etag, "");
  std::string answer =
      gateway.Exchange("GET " + Url("/fresh/page.html") + " HTTP/1.1\r\nIf-None-Match: " + etag + "\r\n\r\n");
  EXPECT_EQ(answer, "HTTP/1.0 304 Not modified\r\nPragma: no-cach\r\n\r\n");
  answer = gateway.Exchange("GET " + Url("/fresh/page.html") + " HTTP/1.1\r\nIf-Match: \"other\"\r\n\r\n");
  EXPECT_EQ(answer, "HTTP/1.0 412 Precondition Failed\r\nPragma: no-cach\r\n\r\n");
  EXPECT_EQ(OriginLines("/fresh/page.html").size(), 1u) << "conditions answered without the origin";
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(HttpCacheTest, WarningsForAHeuristicLifetimeAndForAStaleObjectTheClientAccepts) {
  origin_.Serve("stale/old.txt", "old but acceptable\n");
  origin_.Serve("strict/exact.txt", "always asked about\n");
  Gateway gateway(kCaching);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  // Unchanged for 30 days: a tenth of that is a lifetime of three days.
  origin_.Serve("aged.txt", "unchanged for long\n");
  ASSERT_TRUE(RunProgram("touch -d '30 days ago' '" + origin_.folder() + "/www/aged.txt'").empty());
  Get(gateway, "/aged.txt");
  std::string aged = Get(gateway, "/aged.txt");
  EXPECT_EQ(Occurrences(aged, kHeuristicWarning), 1u) << aged;
  EXPECT_EQ(Body(aged), "unchanged for long\n");
  EXPECT_EQ(OriginLines("/aged.txt").size(), 1u) << "Last-Modified gives a lifetime: served from the cache";

  Get(gateway, "/stale/old.txt");
  std::string stale = Get(gateway, "/stale/old.txt", "-H 'Cache-Control: max-stale'");
  EXPECT_EQ(Occurrences(stale, kStaleWarning), 1u) << stale;
  EXPECT_EQ(Body(stale), "old but acceptable\n");
  EXPECT_EQ(OriginLines("/stale/old.txt").size(), 1u);

  std::string first = Get(gateway, "/strict/exact.txt");
  std::string strict = Get(gateway, "/strict/exact.txt", "-H 'Cache-Control: max-stale'");
  EXPECT_EQ(Occurrences(strict, "Warning:"), 0u) << strict;
  std::vector<std::string> lines = OriginLines("/strict/exact.txt");
  ASSERT_EQ(lines.size(), 2u) << "must-revalidate outweighs max-stale";
  EXPECT_NE(lines[1].find("ims=" + HeaderValue(first, "Last-Modified")), std::string::npos) << lines[1];
}

// A page with neither a lifetime nor Last-Modified is typically made for the
// one who asked: the next user's request goes to the origin and gets his own
// page, not a copy of the first one's.
TEST_F(HttpCacheTest, APageWithoutLifetimeOrLastModifiedIsNeverServedToTheNextUserFromTheCache) {
  Gateway gateway(kCaching);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  std::string first = Get(gateway, "/who", "-H 'X-Who: alice'");
  EXPECT_EQ(Body(first), "made for alice\n");
  std::string second = Get(gateway, "/who", "-H 'X-Who: bob'");
  EXPECT_EQ(Body(second), "made for bob\n") << second;
  EXPECT_EQ(HeaderValue(second, "X-Who"), "bob") << second;
  EXPECT_EQ(HeaderValue(second, "Age"), "") << "the origin's answer, not a stored one: " << second;
  EXPECT_EQ(OriginLines("/who").size(), 2u);

  // Nor when the client would take any age or staleness.
  Get(gateway, "/plain.txt");
  std::string lenient = Get(gateway, "/plain.txt", "-H 'Cache-Control: max-stale, max-age=86400'");
  EXPECT_EQ(Body(lenient), "no validators\n");
  EXPECT_EQ(HeaderValue(lenient, "Age"), "") << lenient;
  EXPECT_EQ(OriginLines("/plain.txt").size(), 2u);
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(HttpCacheTest, AStaleObjectIsRevalidatedA304RefreshesItAndA200ReplacesIt) {
  origin_.Serve("stale/doc.txt", "version one\n");
  Gateway gateway(kCaching);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  std::string first = Get(gateway, "/stale/doc.txt");
  std::string second = Get(gateway, "/stale/doc.txt");
  EXPECT_EQ(Body(second), "version one\n");
  EXPECT_NE(HeaderValue(second, "Age"), "") << "served from the cache after the 304";
  std::vector<std::string> lines = OriginLines("/stale/doc.txt");
  ASSERT_EQ(lines.size(), 2u);
  std::string etag = HeaderValue(first, "ETag");
  ASSERT_GE(etag.size(), 2u);
  EXPECT_EQ(lines[1], "304 0 GET /stale/doc.txt HTTP/1.1 | ims=" + HeaderValue(first, "Last-Modified") +
                          " | inm=\\x22" + etag.substr(1, etag.size() - 2) + "\\x22")
      << "If-Modified-Since from the stored Last-Modified, If-None-Match with the stored tag (nginx escapes quotes)";

  origin_.Serve("stale/doc.txt", "version two, longer\n");
  std::string third = Get(gateway, "/stale/doc.txt");
  EXPECT_EQ(Body(third), "version two, longer\n");
  EXPECT_EQ(HeaderValue(third, "Age"), "") << "the origin's answer, relayed";
  std::string fourth = Get(gateway, "/stale/doc.txt");
  EXPECT_EQ(Body(fourth), "version two, longer\n") << "the 200 replaced the object";
  lines = OriginLines("/stale/doc.txt");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2].substr(0, 4), "200 ");
  EXPECT_EQ(lines[3].substr(0, 6), "304 0 ");
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(HttpCacheTest, CookiesCredentialsAndBodiesOverTheCapAreRelayedButNotStored) {
  origin_.Serve("cookie/c.txt", "with a cookie\n");
  origin_.Serve("fresh/auth.txt", "for one user\n");
  origin_.Serve("fresh/cap.bin", std::string(10485, 'c'));  // 0.01 MB, truncated: exactly the cap
  origin_.Serve("fresh/over.bin", std::string(10486, 'o'));
  Gateway gateway(kCaching + "CachLengthMax=0.01\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Body(Get(gateway, "/cookie/c.txt")), "with a cookie\n");
    EXPECT_EQ(Body(Get(gateway, "/fresh/auth.txt", "-H 'Authorization: Basic dXNlcjpwYXNz'")), "for one user\n");
    EXPECT_EQ(Body(Get(gateway, "/fresh/cap.bin")), std::string(10485, 'c'));
    EXPECT_EQ(Body(Get(gateway, "/fresh/over.bin")), std::string(10486, 'o'));
  }
  EXPECT_EQ(OriginLines("/cookie/c.txt").size(), 2u);
  EXPECT_EQ(OriginLines("/fresh/auth.txt").size(), 2u);
  EXPECT_EQ(OriginLines("/fresh/cap.bin").size(), 1u) << "a body of exactly the cap is kept";
  EXPECT_EQ(OriginLines("/fresh/over.bin").size(), 2u);
}

TEST_F(HttpCacheTest, ADocumentLargerThanTheUsersLimitIsRefusedWithMessage492) {
  origin_.Serve("fresh/big.bin", std::string(20000, 'b'));
  origin_.Serve("fresh/small.bin", std::string(5000, 's'));
  UserRecord user;
  user.login = "127.0.0.1";
  user.name = "Loopback";
  user.byAddress = true;
  user.schedule = FullSchedule();
  user.rules.maxDocumentMb = 0.01;
  // A counted user reaches the loopback origin only with loopback destinations allowed.
  Gateway gateway(
      "EnableCach=1\r\nEnableLoopbackTargets=1\r\n[Groups]\r\n00000000=" + FormatGroupRecord(MakeDefaultGroup()) +
      "\r\n[Users]\r\n127.0.0.1=" + FormatUserRecord(user) + "\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  std::string refused = Get(gateway, "/fresh/big.bin");
  EXPECT_EQ(refused.substr(0, 17), "HTTP/1.0 200 OK\r\n") << refused;
  EXPECT_NE(refused.find(InstalledMessage(492)), std::string::npos) << refused;
  EXPECT_EQ(refused.find("bbbb"), std::string::npos) << "nothing of the document";
  EXPECT_EQ(Body(Get(gateway, "/fresh/small.bin")), std::string(5000, 's'));
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(HttpCacheTest, WithCachOfflineAnObjectIsCompletedAfterTheClientLeft) {
  const std::string body(1024 * 1024, 'z');
  origin_.Serve("slow/one.bin", body);
  origin_.Serve("slow/two.bin", body);
  // The client ends its input after the request, reads the start of the
  // answer and goes away with a reset, the harshest way to leave.
  auto leaveEarly = [this](const Gateway& gateway, const std::string& path) {
    int fd = ConnectLoopback(gateway.port);
    ASSERT_GE(fd, 0);
    SendAll(fd, "GET " + Url(path) + " HTTP/1.1\r\n\r\n");
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(ReadBytes(fd, 1000).substr(0, 15), "HTTP/1.1 200 OK");
    linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    ::close(fd);
  };

  {
    Gateway gateway(kCaching + "CachLengthMax=2\r\nCachOffline=1\r\n");
    ASSERT_TRUE(gateway.started) << gateway.process->Output();
    leaveEarly(gateway, "/slow/one.bin");
    ASSERT_TRUE(gateway.WaitUntilIndexed(Url("/slow/one.bin"))) << "read to its end after the client left\n"
                                                                << gateway.process->Output();
    EXPECT_EQ(Body(Get(gateway, "/slow/one.bin")), body);
    std::vector<std::string> lines = OriginLines("/slow/one.bin");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 12), "200 1048576 ");
  }
  {
    Gateway gateway(kCaching + "CachLengthMax=2\r\nCachOffline=0\r\n");
    ASSERT_TRUE(gateway.started) << gateway.process->Output();
    leaveEarly(gateway, "/slow/two.bin");
    EXPECT_EQ(Body(Get(gateway, "/slow/two.bin")), body);
    std::vector<std::string> lines = OriginLines("/slow/two.bin");
    ASSERT_EQ(lines.size(), 2u) << "the first download was dropped with its client";
    EXPECT_EQ(lines[0].find("200 1048576 "), std::string::npos) << lines[0];
  }
}

TEST_F(HttpCacheTest, ATruncatedObjectFileIsForgottenAndTheOriginsPageServed) {
  const std::string page = "the origin's own page, long enough to be cut in two\n";
  origin_.Serve("fresh/cut.html", page);
  Gateway gateway(kCaching);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  EXPECT_EQ(Body(Get(gateway, "/fresh/cut.html")), page);
  ASSERT_TRUE(gateway.WaitUntilIndexed(Url("/fresh/cut.html")));
  std::vector<std::string> files = ObjectFiles(gateway.home);
  ASSERT_EQ(files.size(), 1u);
  std::filesystem::resize_file(files[0], std::filesystem::file_size(files[0]) - page.size() / 2);

  std::string again = Get(gateway, "/fresh/cut.html");
  EXPECT_EQ(again.substr(0, 15), "HTTP/1.1 200 OK") << again;
  EXPECT_EQ(Body(again), page);
  EXPECT_EQ(HeaderValue(again, "Age"), "") << "the origin's answer, not the damaged object";
  EXPECT_EQ(OriginLines("/fresh/cut.html").size(), 2u);

  // The origin's answer took the damaged object's place.
  std::string third = Get(gateway, "/fresh/cut.html");
  EXPECT_EQ(Body(third), page);
  EXPECT_NE(HeaderValue(third, "Age"), "") << third;
  EXPECT_EQ(OriginLines("/fresh/cut.html").size(), 2u);
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(HttpCacheTest, AnAnswerCutOffBeforeItsEndLeavesNothingInTheCache) {
  const std::string fresh = "HTTP/1.1 200 OK\r\nCache-Control: max-age=3600\r\n";
  CuttingOrigin shortLength(fresh + "Content-Length: 100\r\n\r\n" + std::string(60, 'x'));
  CuttingOrigin noLastChunk(fresh + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n");
  CuttingOrigin whole(fresh + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
  Gateway gateway(kCaching);
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  for (CuttingOrigin* origin : {&shortLength, &noLastChunk, &whole}) {
    for (int i = 0; i < 2; ++i) {
      int rc = -1;
      RunProgram("curl -s --max-time 20 -x " + gateway.Proxy() + " '" + origin->Url("/page") + "'", &rc);
      EXPECT_NE(rc, 28) << "the gateway ended the answer when its origin did";
    }
  }
  EXPECT_EQ(shortLength.requests(), 2) << "60 of 100 bytes were not kept";
  EXPECT_EQ(noLastChunk.requests(), 2) << "a chunked body without its last chunk was not kept";
  EXPECT_EQ(whole.requests(), 1) << "the same origin with the whole body was answered from the cache";

  ASSERT_TRUE(gateway.WaitUntilIndexed(whole.Url("/page")));
  std::string index = ReadFile(gateway.home + "/Cache/cache.lst");
  EXPECT_EQ(index.find(shortLength.Url("/page")), std::string::npos);
  EXPECT_EQ(index.find(noLastChunk.Url("/page")), std::string::npos);
  // The cut objects' files go at the cache thread's next scan.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ObjectFiles(gateway.home).size() > 1 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ObjectFiles(gateway.home).size(), 1u);
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

}  // namespace
}  // namespace brindlex::testing
