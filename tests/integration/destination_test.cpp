// Where clients may go: LocalHosts patterns that match names or addresses but
// never a port or an address-like name, destinations on the gateway's own
// loopback, the monitor lines of refusals, and reply templates that show the
// identified user. Probes of names that must not resolve, and of addresses
// outside loopback, run in a network namespace of their own.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/filter_text.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

using namespace std::string_literals;

const std::string kSecret = "a service bound to loopback only\n";
const std::string kSeparator = "\n=====\n";

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (size_t end; (end = text.find(kSeparator, at)) != std::string::npos; at = end + kSeparator.size())
    parts.push_back(text.substr(at, end - at));
  parts.push_back(text.substr(at));
  return parts;
}

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

std::string LocalHostsInOwnNetwork() {
  NginxOrigin origin;
  origin.Serve("secret.txt", kSecret);
  if (!origin.Start()) return "child failed: origin did not start";
  ProxyGateway gateway("LocalHosts=*.lan;10.1.2.*\r\n");
  if (!gateway.started) return "child failed: gateway did not start: " + gateway.process->Output();
  const std::string port = std::to_string(origin.port());
  std::string answers;
  for (const std::string& request : {
           "GET http://127.0.0.1:" + port + ".lan/secret.txt HTTP/1.1\r\n\r\n",
           "GET /secret.txt HTTP/1.1\r\nHost: 127.0.0.1:" + port + ".lan\r\n\r\n",
           "CONNECT 127.0.0.1:" + port + ".lan HTTP/1.1\r\n\r\n",
           "GET http://10.1.2.3.evil.example/ HTTP/1.1\r\n\r\n"s,
           "GET http://files.lan:" + port + "/ HTTP/1.1\r\n\r\n",
       })
    answers += gateway.Exchange(request) + kSeparator;
  answers += "origin log: " + ReadFile(origin.folder() + "/access.log") + kSeparator;
  answers += "exit " + std::to_string(gateway.process->Stop());
  return answers;
}

TEST(Destinations, LocalHostsPatternsTakeNeitherAPortNorAnAddressLikeName) {
  std::string all = RunInOwnNetwork(LocalHostsInOwnNetwork);
  ASSERT_EQ(all.find("child failed"), std::string::npos) << all;
  std::vector<std::string> answers = Split(all);
  ASSERT_EQ(answers.size(), 7u) << all;
  // "PORT.lan" is no port: the request is malformed, whatever *.lan says.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(StatusLine(answers[i]).find(" 200 "), std::string::npos) << answers[i];
    EXPECT_EQ(answers[i].find(kSecret), std::string::npos) << answers[i];
    EXPECT_NE(answers[i].find(InstalledMessage(421)), std::string::npos) << answers[i];
  }
  // 10.1.2.* speaks of addresses: a name that starts like one is not local
  // and needs a login.
  EXPECT_EQ(StatusLine(answers[3]).substr(0, 12), "HTTP/1.0 407") << answers[3];
  // A name pattern still makes a name local (which resolves nowhere here).
  EXPECT_EQ(StatusLine(answers[4]).substr(0, 12), "HTTP/1.0 404") << answers[4];
  EXPECT_EQ(answers[5], "origin log: ") << "nothing reached the loopback service";
  EXPECT_EQ(answers[6], "exit 0");
}

class LoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    origin_.Serve("secret.txt", kSecret);
    ASSERT_TRUE(origin_.Start(true)) << ReadFile(origin_.folder() + "/error.log");
  }
  std::string Url(const std::string& host) const {
    return "http://" + host + ":" + std::to_string(origin_.port()) + "/secret.txt";
  }
  // A URL bob's deny filter refuses (the filter's URL ends before any '?').
  std::string Forbidden(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(origin_.port()) + "/forbidden/" + name;
  }
  std::string TlsUrl(const std::string& host) const {
    return "https://" + host + ":" + std::to_string(origin_.tlsPort()) + "/secret.txt";
  }
  // A request as bob (password pw) sent as it stands: curl would rewrite
  // the numeric host forms before the gateway saw them.
  static std::string AsBob(const ProxyGateway& gateway, const std::string& method, const std::string& target) {
    return gateway.Exchange(method + " " + target + " HTTP/1.1\r\nProxy-Authorization: Basic Ym9iOnB3\r\n\r\n");
  }
  NginxOrigin origin_;
};

TEST_F(LoopbackTest, AUserGetsTheRefusalPageForTheGatewaysLoopbackInEveryForm) {
  ProxyGateway gateway("", AccountSections({LoginUser("bob", "pw")}));
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  const std::string port = std::to_string(origin_.port());
  const std::string tlsPort = std::to_string(origin_.tlsPort());
  std::vector<std::pair<std::string, std::string>> requests;
  for (const char* host : {"127.0.0.1", "localhost", "127.8.9.10", "0.0.0.0", "2130706433", "0x7f.1"})
    requests.push_back({"GET", Url(host)});
  requests.push_back({"GET", "http://127.0.0.1/"});  // port 80 of this machine is as much a service
  requests.push_back({"CONNECT", "127.0.0.1:" + tlsPort});
  requests.push_back({"CONNECT", "localhost:" + tlsPort});
  for (const auto& [method, target] : requests) {
    std::string answer = AsBob(gateway, method, target);
    EXPECT_EQ(StatusLine(answer), "HTTP/1.0 200 OK") << target << ": " << answer;
    EXPECT_NE(answer.find(InstalledMessage(498)), std::string::npos) << target << ": " << answer;
    EXPECT_EQ(answer.find(kSecret), std::string::npos) << target;
  }
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
  EXPECT_EQ(ReadFile(origin_.folder() + "/access.log"), "") << "nothing reached the loopback service";
}

TEST_F(LoopbackTest, TheSwitchOrAnAddressInLocalHostsOpensTheLoopbackAndANameDoesNot) {
  const std::string users = AccountSections({LoginUser("bob", "pw")});
  int rc = 0;
  {
    ProxyGateway gateway("EnableLoopbackTargets=1\r\n", users);
    ASSERT_TRUE(gateway.started) << gateway.process->Output();
    EXPECT_EQ(Curl(gateway.Proxy(), Url("localhost"), &rc, "-U bob:pw"), kSecret);
    EXPECT_EQ(Curl(gateway.Proxy(), TlsUrl("127.0.0.1"), &rc, "-k -U bob:pw"), kSecret);
    EXPECT_EQ(Curl(gateway.Proxy(), Url("127.0.0.1"), &rc, "-o /dev/null -w '%{http_code}'"), "407")
        << "the switch opens the loopback, not the gateway";
  }
  {
    ProxyGateway gateway("LocalHosts=127.0.0.*\r\n", users);
    ASSERT_TRUE(gateway.started) << gateway.process->Output();
    EXPECT_EQ(Curl(gateway.Proxy(), Url("127.0.0.1"), &rc), kSecret);
    EXPECT_EQ(Curl(gateway.Proxy(), Url("localhost"), &rc), kSecret) << "where the name leads is named";
    EXPECT_NE(AsBob(gateway, "GET", Url("127.0.1.1")).find(InstalledMessage(498)), std::string::npos)
        << "only the addresses the pattern matches";
  }
  {
    // A name pattern makes "localhost" local, but does not name its address.
    ProxyGateway gateway("LocalHosts=localhost\r\n", users);
    ASSERT_TRUE(gateway.started) << gateway.process->Output();
    EXPECT_NE(Curl(gateway.Proxy(), Url("localhost"), &rc).find(InstalledMessage(498)), std::string::npos);
  }
  EXPECT_EQ(Count(origin_.WaitForLog(4), "GET /secret.txt"), 4u);
}

std::string ParentOnLoopbackInOwnNetwork() {
  NginxOrigin parent;  // stands in for a parent proxy and logs what it is asked
  parent.Serve("page.txt", "from the parent\n");
  if (!parent.Start()) return "child failed: parent did not start";
  ProxyGateway gateway(
      "EnableParentProxy=1\r\nCascadeIP=127.0.0.1\r\nCascadePort=" + std::to_string(parent.port()) + "\r\n",
      AccountSections({LoginUser("bob", "pw")}));
  if (!gateway.started) return "child failed: gateway did not start: " + gateway.process->Output();
  int rc = 0;
  std::string answer = Curl(gateway.Proxy(), "http://192.0.2.1/page.txt", &rc, "-U bob:pw") + kSeparator;
  answer += parent.WaitForLog(1);
  gateway.process->Stop();
  return answer;
}

TEST(Destinations, TheParentProxyOnLoopbackIsTheAdministratorsChoiceAndStaysReachable) {
  std::string answer = RunInOwnNetwork(ParentOnLoopbackInOwnNetwork);
  ASSERT_EQ(answer.find("child failed"), std::string::npos) << answer;
  EXPECT_EQ(answer.substr(0, 16), "from the parent\n") << answer;
  EXPECT_NE(answer.find("GET http://192.0.2.1/page.txt HTTP/1.1"), std::string::npos) << answer;
}

TEST_F(LoopbackTest, EveryRefusalGivesAMonitorLineAndFailedLoginsOneAMinute) {
  UserRecord filtered = LoginUser("bob", "pw");
  filtered.denyFilter = FormatFilterText(FilterList{true, {FilterEntry{"*forbidden*", kFilterUrl, 0}}});
  ProxyGateway gateway("EnableLoopbackTargets=1\r\n", AccountSections({filtered}));
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  int rc = 0;
  for (int i = 0; i < 5; ++i) Curl(gateway.Proxy(), Url("127.0.0.1"), &rc, "-U bob:wrong");
  Curl(gateway.Proxy(), Forbidden("1"), &rc, "-U bob:pw");
  const std::string line = "REFUSED, 127.0.0.1, ";
  EXPECT_TRUE(gateway.process->WaitForOutput(line + "bob, 422, " + Url("127.0.0.1") + "\n"))
      << gateway.process->Output();
  EXPECT_TRUE(gateway.process->WaitForOutput(line + "bob, 493, " + Forbidden("1") + "\n")) << gateway.process->Output();
  // A request without credentials fails to log in too, from the same address
  // within the same minute; the refusal after it shows that its turn is over.
  Curl(gateway.Proxy(), Url("127.0.0.1"), &rc);
  Curl(gateway.Proxy(), Forbidden("2"), &rc, "-U bob:pw");
  EXPECT_TRUE(gateway.process->WaitForOutput(line + "bob, 493, " + Forbidden("2") + "\n")) << gateway.process->Output();
  std::string output = gateway.process->Output();
  EXPECT_EQ(Count(output, ", 422, "), 1u) << "the other failed logins of the minute are only counted\n" << output;
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(LoopbackTest, ALoopbackRefusalIsOnTheMonitorWithTheUsersLogin) {
  ProxyGateway gateway("", AccountSections({LoginUser("bob", "pw")}));
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  int rc = 0;
  Curl(gateway.Proxy(), Url("localhost"), &rc, "-U bob:pw");
  EXPECT_TRUE(gateway.process->WaitForOutput("REFUSED, 127.0.0.1, bob, 498, " + Url("localhost") + "\n"))
      << gateway.process->Output();
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

TEST_F(LoopbackTest, AReplyTemplateWithUserMacrosShowsTheIdentifiedUser) {
  UserRecord filtered = LoginUser("bob", "pw");
  filtered.denyFilter = FormatFilterText(FilterList{true, {FilterEntry{"*forbidden*", kFilterUrl, 0}}});
  ProxyGateway gateway("EnableLoopbackTargets=1\r\nLocalHosts=127.0.0.2\r\n", AccountSections({filtered}));
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  WriteFile(gateway.home + "/wwwroot/restrictions.html", "<p>%USER_NAME% (%USER_LOGIN%): %CONTENT%</p>");
  WriteFile(gateway.home + "/wwwroot/message.html", "<p>%USER_NAME%: %CONTENT%</p>");
  int rc = 0;
  std::string refused = Curl(gateway.Proxy(), Forbidden("1"), &rc, "-i -U bob:pw");
  EXPECT_EQ(StatusLine(refused), "HTTP/1.0 200 OK") << refused;
  EXPECT_NE(refused.find("<p>User bob (bob): " + InstalledMessage(493) + "</p>"), std::string::npos) << refused;
  // A page for a client nobody identified (a local server that does not
  // answer) has no user to show: it asks for one.
  std::string anonymous = gateway.Exchange("GET http://127.0.0.2:1/ HTTP/1.1\r\n\r\n");
  EXPECT_EQ(StatusLine(anonymous).substr(0, 12), "HTTP/1.0 407") << anonymous;
  EXPECT_EQ(gateway.process->Stop(), 0) << gateway.process->Output();
}

}  // namespace
}  // namespace brindlex::testing
