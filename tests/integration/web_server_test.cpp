// The built-in web server through the real gateway: pages filled for the
// identified user, files sent as they are, programs as pages (with their time
// limit), the administrators' area, paths that try to leave the web root, and
// the proxy auto-configuration script run by a real JavaScript engine.
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/strings.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

using namespace std::string_literals;

const std::string kPageHead = "HTTP/1.0 200 OK\r\nPragma: no-cach\r\n\r\n";

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

std::string Body(const std::string& answer) {
  size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

void WriteProgram(const std::string& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
}

std::string Accounts() {
  UserRecord bob = LoginUser("bob", "pw");
  bob.name = "Bob <Smith>";
  bob.rules.dayMb = 100;
  bob.rules.monthMinutes = 600;
  UserRecord root = LoginUser("root", "rootpw");
  root.admin = true;
  return AccountSections({bob, root});
}

class WebServer : public ::testing::Test {
 protected:
  void SetUp() override {
    gateway_ = std::make_unique<ProxyGateway>(systemLines_, Accounts());
    ASSERT_TRUE(gateway_->started) << gateway_->process->Output();
    const std::string root = gateway_->home + "/wwwroot";
    ::mkdir((root + "/sub").c_str(), 0755);
    ::mkdir((root + "/admin").c_str(), 0755);
    WriteFile(root + "/page.html", "<p>%HOST%%URL%</p>%cur_date%%USER_LOGIN%");
    WriteFile(root + "/plain.html", "[%HOST%|%URL%]");
    WriteFile(root + "/sub/page.html", "<p>%HOST% %USER_NAME%</p>");
    WriteFile(root + "/admin/x.html", "for administrators %USER_NAME%");
    WriteFile(root + "/notes.txt", "notes %HOST%\n");
    WriteProgram(root + "/prog.exe", "cat\n");
    WriteProgram(root + "/sleeper.exe", "echo started\nexec sleep 1077\n");
  }

  // A request written as it stands (curl would normalise the path first).
  std::string Get(const std::string& target, const std::string& headers = "") const {
    return gateway_->Exchange("GET " + target + " HTTP/1.1\r\nHost: brindlex\r\n" + headers + "\r\n");
  }
  std::string Url(const std::string& path) const { return "http://brindlex" + path; }

  static constexpr const char* kBob = "Proxy-Authorization: Basic Ym9iOnB3\r\n";           // bob:pw
  static constexpr const char* kRoot = "Proxy-Authorization: Basic cm9vdDpyb290cHc=\r\n";  // root:rootpw

  std::string systemLines_;
  std::unique_ptr<ProxyGateway> gateway_;
};

TEST_F(WebServer, TheRootServesTheUsersIndexPageFilled) {
  int rc = 0;
  std::string page = Curl(gateway_->Proxy(), Url("/"), &rc, "--proxy-user bob:pw");
  EXPECT_EQ(rc, 0);
  EXPECT_NE(page.find("Bob &lt;Smith&gt;"), std::string::npos) << page;
  for (const char* macro : {"%USER_", "%CUR_", "%REST_", "%STAT_", "%SHARE_", "%TABLE_"})
    EXPECT_EQ(page.find(macro), std::string::npos) << macro << " is replaced: " << page;
  // Bob's day traffic limit is set and nothing is used yet; his day time
  // limit is not, so its bar is empty (and hidden by the page).
  EXPECT_NE(page.find("<div class=\"limit\" data-share=\"0\">\n<div class=\"name\">Трафик за сегодня"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<div class=\"limit\" data-share=\"\">\n<div class=\"name\">Время за сегодня"), std::string::npos)
      << page;
  EXPECT_NE(page.find("<tr><td>" + Str(478) + "</td>"), std::string::npos) << "the per-day table is there";
  // A browser that asks the gateway by one of its addresses on the HTTP
  // port, or by its name in any case, reaches the same page, and so does one
  // that logs in to the page rather than to the proxy.
  // (The page from <main> on: the clock in its header moves on.)
  auto body = [](const std::string& text) { return text.substr(std::min(text.find("<main>"), text.size())); };
  ASSERT_NE(page.find("<main>"), std::string::npos);
  for (const std::string& url : {"http://127.0.0.1:" + std::to_string(gateway_->port) + "/", "http://BrindLEX/"s})
    EXPECT_EQ(body(Curl(gateway_->Proxy(), url, &rc, "--proxy-user bob:pw")), body(page)) << url;
  EXPECT_EQ(body(Curl(gateway_->Proxy(), Url("/"), &rc, "-u bob:pw")), body(page));
}

TEST_F(WebServer, ThePerDayTableHasTheRowsOfTheSessionLogs) {
  std::time_t now = std::time(nullptr);
  std::tm today{};
  ::localtime_r(&now, &today);
  char name[64], date[16];
  std::strftime(name, sizeof(name), "/Logging/%d-%m-%y-Brindlex.lgs", &today);
  std::strftime(date, sizeof(date), "%m.%d.%y", &today);
  WriteFile(gateway_->home + name, "Bob, bob, 127.0.0.1, "s + date + ", 00:00:01, 61000, 2048, 1024, 0, 0\r\n" +
                                       "Eve, eve, 127.0.0.2, " + date + ", 00:00:02, 99000, 99, 99, 0, 0\r\n" +
                                       "Bob, bob, 127.0.0.1, " + date + ", 00:00:03, 1000, 6144, 0, 0, 0\r\n");
  std::string page = Body(Get("/", kBob));
  char label[16];
  std::strftime(label, sizeof(label), "%d.%m.%Y", &today);
  EXPECT_NE(page.find("<tr><td>"s + label + "<td>0:01:02<td>1 (0)<td>8 (0.01)<td>100<tr><td>" + Str(813) +
                      "<td>0:01:02<td>1 (0)<td>8 (0.01)<td>100\n</table>"),
            std::string::npos)
      << page;
}

TEST_F(WebServer, APageAtTheRootIsFilledAndOneInASubfolderSentUnchanged) {
  std::string root = Get("/page.html", kBob);
  ASSERT_EQ(root.substr(0, kPageHead.size()), kPageHead) << root;
  std::string body = Body(root);
  // Two macros back to back, and one at the very end, are all replaced.
  EXPECT_EQ(body.substr(0, 22), "<p>brindlex/page.html<") << body;
  EXPECT_EQ(body.substr(body.size() - 3), "bob") << body;
  EXPECT_EQ(Body(Get("/sub/page.html", kBob)), "<p>%HOST% %USER_NAME%</p>");
  EXPECT_EQ(Body(Get("/notes.txt")), "notes %HOST%\n") << "only pages are templates";
  EXPECT_EQ(Body(Get("/plain.html")), "[brindlex|/plain.html]") << "a page without user macros needs no user";
}

TEST_F(WebServer, APageThatShowsTheUserAsksAnUnidentifiedClientToLogIn) {
  for (const char* path : {"/", "/page.html"}) {
    std::string answer = Get(path);
    EXPECT_EQ(StatusLine(answer), "HTTP/1.0 401 Unauthorized") << answer;
    EXPECT_NE(answer.find("WWW-Authenticate: Basic realm=\"Brindlex\"\r\n"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("%USER"), std::string::npos) << answer;
  }
}

TEST_F(WebServer, TheAdminAreaInEverySpellingIsForAdministratorsOnly) {
  for (const char* path : {"/admin/", "/admin/x.html", "//admin/x.html", "/./admin/x.html", "/ADMIN/x.html",
                           "/%61dmin/x.html", "/admin\\x.html"}) {
    std::string anonymous = Get(path);
    EXPECT_EQ(StatusLine(anonymous), "HTTP/1.0 401 Unauthorized") << path << ": " << anonymous;
    EXPECT_NE(anonymous.find("realm=\"Brindlex\""), std::string::npos) << path;
    std::string bob = Get(path, kBob);
    EXPECT_EQ(StatusLine(bob), "HTTP/1.0 200 OK") << path;
    EXPECT_NE(bob.find(InstalledMessage(496)), std::string::npos) << path << ": " << bob;
    EXPECT_EQ(bob.find("for administrators"), std::string::npos) << path;
  }
  // Files under admin/ are sent as they are, to an administrator.
  EXPECT_EQ(Get("/admin/x.html", kRoot), kPageHead + "for administrators %USER_NAME%");
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, bob, 496, /admin/x.html"))
      << gateway_->process->Output();
}

TEST_F(WebServer, AMissingMessageShowsTheFallbackText) {
  WriteFile(gateway_->home + "/wwwroot/messages.txt", "421 not found\r\n");
  std::string bob = Get("/admin/x.html", kBob);
  EXPECT_NE(bob.find(Str(785)), std::string::npos) << bob;
}

TEST_F(WebServer, APathThatLeavesTheWebRootIsNotFoundInAnyForm) {
  for (const char* path : {"/../Brindlex.ini", "/%2e%2e/Brindlex.ini", "/%2E%2E/Brindlex.ini", "/..\\Brindlex.ini",
                           "/sub/../page.html", "/sub/%2e%2e/page.html", "/.."}) {
    std::string answer = Get(path, kRoot);
    EXPECT_EQ(StatusLine(answer), "HTTP/1.0 404 Not Found") << path << ": " << answer;
    EXPECT_EQ(answer.find("HttpPort"), std::string::npos) << path;
    EXPECT_EQ(answer.find("brindlex/page.html"), std::string::npos) << path;
  }
  EXPECT_EQ(StatusLine(Get("/missing.html")), "HTTP/1.0 404 Not Found");
  // The line escapes the '%' of the path: it shows what the client sent.
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, root, 421, /%252e%252e/Brindlex.ini"))
      << gateway_->process->Output();
}

TEST_F(WebServer, AProgramGetsTheQueryAndALineFeedAndItsOutputIsThePage) {
  EXPECT_EQ(Get("/prog.exe?x=1"), kPageHead + "x=1\n");
  EXPECT_EQ(Get("/prog.exe"), kPageHead + "null\n");
  EXPECT_EQ(Get("/prog.exe?"), kPageHead + "null\n");
}

TEST_F(WebServer, AProgramThatNeverEndsIsKilledAtTheLimit) {
  int fd = ConnectLoopback(gateway_->port);
  ASSERT_GE(fd, 0);
  auto start = std::chrono::steady_clock::now();
  SendAll(fd, "GET http://brindlex/sleeper.exe HTTP/1.1\r\n\r\n");
  bool closed = false;
  std::string answer = ReadUntilClosed(fd, 30s, &closed);
  ::close(fd);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(closed);
  EXPECT_EQ(answer, kPageHead + "started\n");
  EXPECT_GE(took, 9s);
  EXPECT_LT(took, 20s);
  EXPECT_TRUE(gateway_->process->WaitForOutput("WEB PROGRAM STOPPED, 127.0.0.1, sleeper.exe, still running after 10 s"))
      << gateway_->process->Output();
  // Nothing of it is left: no process runs its "sleep 1077", and the gateway has no zombie child.
  EXPECT_EQ(RunProgram("pgrep -f 'slee[p] 1077'"), "");
  EXPECT_EQ(RunProgram("ps -o stat= --ppid " + std::to_string(gateway_->process->pid()) + " | grep Z"), "");
  EXPECT_EQ(gateway_->process->Stop(), 0);
}

// The standard helpers a browser gives the script, and a resolver that knows
// a few names (nothing is looked up for real).
const std::string kPacHarness = R"(
function shExpMatch(text, pattern) {
  var re = "^" + pattern.replace(/[.+^${}()|[\]\\]/g, "\\$&").replace(/\*/g, ".*").replace(/\?/g, ".") + "$";
  return new RegExp(re).test(text);
}
function isPlainHostName(host) { return host.indexOf(".") < 0; }
function dnsDomainIs(host, domain) { return host.length >= domain.length && host.substring(host.length - domain.length) == domain; }
function dnsResolve(host) {
  var known = {"example.com": "198.51.100.7", "printer.office": "127.0.0.9", "far.office": "203.0.113.9"};
  return known[host] || null;
}
function convert_addr(ip) { var p = ip.split("."); return ((+p[0] * 256 + +p[1]) * 256 + +p[2]) * 256 + +p[3]; }
function isInNet(host, pattern, mask) {
  var ip = /^[0-9.]+$/.test(host) ? host : dnsResolve(host);
  if (!ip) return false;
  return (convert_addr(ip) & convert_addr(mask)) == (convert_addr(pattern) & convert_addr(mask));
}
function isResolvable(host) { return dnsResolve(host) != null; }
function myIpAddress() { return "127.0.0.1"; }
)";

// What the script answers for each URL, one line each, as node prints it.
std::string RunPac(const std::string& script, const std::vector<std::string>& urls) {
  std::string calls;
  for (const std::string& url : urls) {
    std::string host = url.substr(url.find("//") + 2);
    host = host.substr(0, host.find_first_of(":/"));
    calls += "console.log(FindProxyForURL(\"" + url + "\", \"" + host + "\"));\n";
  }
  char pattern[] = "/tmp/brindlex-pac-XXXXXX";
  int fd = ::mkstemp(pattern);
  if (fd < 0) return "(no temporary file)";
  ::close(fd);
  WriteFile(pattern, kPacHarness + script + "\n" + calls);
  int rc = 0;
  std::string out = RunProgram("node " + std::string(pattern) + " 2>&1", &rc);
  ::unlink(pattern);
  return rc == 0 ? out : "node failed: " + out;
}

TEST(WebServerPac, TheScriptSendsTheWorldThroughTheGatewayAndTheLanDirect) {
  ProxyGateway gateway("LocalHosts=*.lan;127.0.0.9\r\nUsersAddrs=127.0.0.1-127.0.0.100\r\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  const std::string proxy = "PROXY 127.0.0.1:" + std::to_string(gateway.port);
  for (const char* path : {"/proxy.pac", "/wpad.dat"}) {
    std::string answer = gateway.Exchange("GET http://brindlex"s + path + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(StatusLine(answer), "HTTP/1.0 200 OK") << answer;
    EXPECT_NE(answer.find("\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"), std::string::npos) << answer;
    EXPECT_EQ(RunPac(Body(answer), {"http://example.com/a", "https://www.example.com/", "http://brindlex/",
                                    "http://files.lan/x", "http://printer.office/", "http://127.0.0.50:8000/",
                                    "http://127.0.0.150/", "http://far.office/"}),
              proxy + "\n" + proxy + "\n" + proxy + "\nDIRECT\nDIRECT\nDIRECT\n" + proxy + "\n" + proxy + "\n")
        << Body(answer);
  }
  EXPECT_EQ(gateway.process->Stop(), 0);
}

TEST(WebServerPac, WithoutUsersAddrsTheInterfacesNetworkIsTheLan) {
  ProxyGateway gateway("");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string answer = gateway.Exchange("GET http://brindlex/proxy.pac HTTP/1.1\r\n\r\n");
  const std::string proxy = "PROXY 127.0.0.1:" + std::to_string(gateway.port);
  // The client reached the gateway on loopback, whose network is 127.0.0.0/8.
  EXPECT_EQ(RunPac(Body(answer), {"http://127.200.1.1/", "http://example.com/", "http://far.office/"}),
            "DIRECT\n" + proxy + "\n" + proxy + "\n")
      << Body(answer);
  EXPECT_EQ(gateway.process->Stop(), 0);
}

}  // namespace
}  // namespace brindlex::testing
