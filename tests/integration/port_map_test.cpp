// Port mapping end to end: TCP rules in front of nginx and UDP rules in
// front of an echo server or a test's own socket, all on loopback; the
// rule's source, its user, the destination's port, the log, the reopen of a
// rule switched off and on, and a conversation's end after 8 quiet seconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/log_files.h"
#include "core/schedule.h"
#include "core/users.h"
#include "portmap/port_map_storage.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"
#include "tests/integration/udp_echo.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

const std::string kPage = "through a mapped port\n";
constexpr Ipv4 kLoopback = 0x7F000001;

PortMapRule Rule(const std::string& name, int listenPort, const std::string& host, int destPort,
                 const std::string& login = "bob") {
  PortMapRule rule;
  rule.name = name;
  rule.listenPort = static_cast<std::uint16_t>(listenPort);
  rule.destHost = host;
  rule.destPort = static_cast<std::uint16_t>(destPort);
  rule.login = login;
  return rule;
}

std::string Section(const std::vector<PortMapRule>& rules) {
  std::string text = "[PortMapping]\r\n";
  for (const PortMapRule& rule : rules) text += rule.name + "=" + FormatRuleValue(rule) + "\r\n";
  return text;
}

std::string OpenLine(const std::string& name, int port, const std::string& result = "Ok") {
  return "Открытие сокета '" + name + "', порт=" + std::to_string(port) + "; - " + result;
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string Get(const std::string& path) { return "GET " + path + " HTTP/1.1\r\nHost: origin\r\n\r\n"; }

// One request on a kept connection: the answer's head and its body of
// `bodySize` bytes (what arrived within 5 s).
std::string Exchange(int fd, const std::string& path, size_t bodySize) {
  SendAll(fd, Get(path));
  std::string answer;
  auto complete = [&] {
    size_t head = answer.find("\r\n\r\n");
    return head != std::string::npos && answer.size() >= head + 4 + bodySize;
  };
  while (!complete()) {
    std::string more = ReadBytes(fd, 1, 5s);
    if (more.empty()) break;
    answer += more;
  }
  return answer;
}

// The whole answer to one request on a new connection from `source`; empty
// when the gateway closed the connection without one.
std::string Fetch(int port, const std::string& path, Ipv4 source = kLoopback) {
  int fd = ConnectLoopbackFrom(source, port);
  if (fd < 0) return "(no connection)";
  SendAll(fd, "GET " + path + " HTTP/1.0\r\n\r\n");
  std::string answer = ReadUntilClosed(fd, 10s);
  ::close(fd);
  return answer;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

class PortMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    origin_.Serve("page.txt", kPage);
    ASSERT_TRUE(origin_.Start()) << ReadFile(origin_.folder() + "/error.log");
  }
  // A gateway with these rules and users; waits until every enabled rule's
  // socket is open.
  void Open(const std::vector<PortMapRule>& rules, const std::vector<UserRecord>& users,
            const std::string& systemLines = "EnableLoopbackTargets=1\r\n") {
    gateway_ = std::make_unique<ProxyGateway>(systemLines, AccountSections(users) + Section(rules));
    ASSERT_TRUE(gateway_->started) << gateway_->process->Output();
    for (const PortMapRule& rule : rules) {
      if (!rule.disabled) {
        ASSERT_TRUE(gateway_->process->WaitForOutput(OpenLine(rule.name, rule.listenPort)));
      }
    }
  }
  std::string TodaysLog() const {
    return ReadFile(gateway_->home + "/Logging/" + ConnectionLogName(SystemClock().LocalNow()));
  }
  // Until a connection to the port is refused (the listener closed it).
  static bool RefusedWithin(int port, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int fd = ConnectLoopbackFrom(kLoopback, port);
      if (fd < 0) return true;
      ::close(fd);
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  NginxOrigin origin_;
  std::unique_ptr<ProxyGateway> gateway_;
};

TEST_F(PortMapTest, ATcpRuleRelaysToItsDestinationAndLogsUnderItsName) {
  int port = FreePort();
  Open({Rule("Web", port, "127.0.0.1", origin_.port())}, {LoginUser("bob", "pw")});
  std::string answer = Fetch(port, "/page.txt");
  EXPECT_TRUE(EndsWith(answer, kPage)) << answer;
  EXPECT_EQ(gateway_->process->Stop(), 0) << gateway_->process->Output();
  std::vector<std::string> lines = Lines(TodaysLog());
  ASSERT_EQ(lines.size(), 1u) << TodaysLog();
  EXPECT_EQ(lines[0].substr(0, 31), "Web, User bob, bob, 127.0.0.1, ") << lines[0];
  EXPECT_EQ(LogField(lines[0], 6), "127.0.0.1");
  EXPECT_EQ(std::stoll(std::string(LogField(lines[0], 8))), static_cast<long long>(answer.size())) << lines[0];
  EXPECT_EQ(LogField(lines[0], 9), std::to_string(std::string("GET /page.txt HTTP/1.0\r\n\r\n").size()))
      << "the request, as sent";
  EXPECT_EQ(LogFieldToEnd(lines[0], 10), "127.0.0.1");
}

TEST_F(PortMapTest, APortAfterTheHostNameOverridesDestPort) {
  int port = FreePort();
  Open({Rule("Named", port, "localhost:" + std::to_string(origin_.port()), 9)}, {LoginUser("bob", "pw")});
  EXPECT_TRUE(EndsWith(Fetch(port, "/page.txt"), kPage));
}

TEST_F(PortMapTest, ARangeWithEqualEndsAdmitsExactlyThatAddress) {
  int port = FreePort();
  PortMapRule rule = Rule("Only2", port, "127.0.0.1", origin_.port(), "");
  rule.sourceKind = kSourceRange;
  rule.sourceFrom = rule.sourceTo = 0x7F000002;
  Open({rule}, {AddressUser("127.0.0.1", "At 127.0.0.1"), AddressUser("127.0.0.2", "At 127.0.0.2"), AddressUser("127.0.0.3", "At 127.0.0.3")});
  EXPECT_TRUE(EndsWith(Fetch(port, "/page.txt", 0x7F000002), kPage));
  EXPECT_EQ(Fetch(port, "/page.txt", 0x7F000001), "");
  EXPECT_EQ(Fetch(port, "/page.txt", 0x7F000003), "");
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, , 0, "));
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.3, , 0, "));
  EXPECT_EQ(gateway_->process->Stop(), 0);
  std::vector<std::string> lines = Lines(TodaysLog());
  ASSERT_EQ(lines.size(), 1u) << TodaysLog();
  EXPECT_EQ(lines[0].substr(0, 36), "Only2, At 127.0.0.2, 127.0.0.2, 127.") << lines[0];
}

TEST_F(PortMapTest, AnUnknownUserIsRefusedWithOneMonitorLineAndARuleMayLeadToTheGatewayItself) {
  int nobody = FreePort();
  int loop = FreePort();
  Open({Rule("Nobody", nobody, "127.0.0.1", origin_.port(), "nobody"), Rule("Loop", loop, "127.0.0.1", origin_.port())},
       {LoginUser("bob", "pw")}, "");
  EXPECT_EQ(Fetch(nobody, "/page.txt"), "");
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, nobody, 422, 127.0.0.1"));
  // The rule's destination is the administrator's choice: the loopback rule
  // for destinations a client names does not apply.
  EXPECT_TRUE(EndsWith(Fetch(loop, "/page.txt"), kPage));
  EXPECT_EQ(gateway_->process->Stop(), 0);
  EXPECT_EQ(Occurrences(gateway_->process->Output(), "REFUSED, "), 1u) << gateway_->process->Output();
  EXPECT_EQ(Lines(TodaysLog()).size(), 1u) << "only the relayed connection is logged: " << TodaysLog();
}

TEST_F(PortMapTest, ARuleWhosePortIsTakenIsReportedAndTheOthersOpen) {
  int taken = 0;
  int holder = ListenOnLoopback(1, taken);
  ASSERT_GE(holder, 0);
  int port = FreePort();
  PortMapRule busy = Rule("Busy", taken, "127.0.0.1", origin_.port());
  busy.listenAddress = kLoopback;
  gateway_ = std::make_unique<ProxyGateway>(
      "EnableLoopbackTargets=1\r\n",
      AccountSections({LoginUser("bob", "pw")}) + Section({busy, Rule("Free", port, "127.0.0.1", origin_.port())}));
  ASSERT_TRUE(gateway_->started);
  EXPECT_TRUE(gateway_->process->WaitForOutput(OpenLine("Busy", taken, "Error! Address already in use")))
      << gateway_->process->Output();
  EXPECT_TRUE(gateway_->process->WaitForOutput(OpenLine("Free", port)));
  EXPECT_TRUE(EndsWith(Fetch(port, "/page.txt"), kPage));
  ::close(holder);
}

TEST_F(PortMapTest, SwitchingARuleOffKeepsItsConnectionsAndClosesItsPortUntilItIsOnAgain) {
  int port = FreePort();
  PortMapRule rule = Rule("Web", port, "127.0.0.1", origin_.port());
  Open({rule}, {LoginUser("bob", "pw")});
  int running = ConnectLoopbackFrom(kLoopback, port);
  ASSERT_GE(running, 0);
  EXPECT_TRUE(EndsWith(Exchange(running, "/page.txt", kPage.size()), kPage));

  rule.disabled = true;
  ASSERT_TRUE(EditAndReload(*gateway_, [&](IniDocument& settings) {
    SetValue(settings, kPortMapSection, rule.name, FormatRuleValue(rule));
  }));
  EXPECT_TRUE(RefusedWithin(port, 3s)) << "the port stays open after the rule was switched off";
  EXPECT_TRUE(EndsWith(Exchange(running, "/page.txt", kPage.size()), kPage)) << "the running connection goes on";

  rule.disabled = false;
  ASSERT_TRUE(EditAndReload(*gateway_, [&](IniDocument& settings) {
    SetValue(settings, kPortMapSection, rule.name, FormatRuleValue(rule));
  }));
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (Occurrences(gateway_->process->Output(), OpenLine("Web", port)) < 2 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Occurrences(gateway_->process->Output(), OpenLine("Web", port)), 2u);
  EXPECT_TRUE(EndsWith(Fetch(port, "/page.txt"), kPage));
  ::close(running);
}

TEST_F(PortMapTest, AReloadThatKeepsARuleKeepsItsSocket) {
  int port = FreePort();
  PortMapRule rule = Rule("Web", port, "127.0.0.1", origin_.port());
  Open({rule}, {LoginUser("bob", "pw")});
  rule.destHost = "localhost";
  ASSERT_TRUE(EditAndReload(*gateway_, [&](IniDocument& settings) {
    SetValue(settings, kPortMapSection, rule.name, FormatRuleValue(rule));
  }));
  EXPECT_TRUE(EndsWith(Fetch(port, "/page.txt"), kPage));
  EXPECT_EQ(Occurrences(gateway_->process->Output(), OpenLine("Web", port)), 1u)
      << "the socket was closed and opened again";
  EXPECT_EQ(gateway_->process->Stop(), 0);
  EXPECT_EQ(LogField(Lines(TodaysLog()).at(0), 6), "localhost") << "the new destination is in force";
}

TEST_F(PortMapTest, EveryOneOfTwoHundredRulesRelays) {
  std::vector<PortMapRule> rules;
  for (int i = 0; i < 200; ++i)
    rules.push_back(Rule("Web" + std::to_string(i), FreePort(), "127.0.0.1", origin_.port()));
  Open(rules, {LoginUser("bob", "pw")});
  // In batches, each given a few seconds in all: a rule nobody serves costs
  // its batch's wait once, not a time-out of its own.
  int relayed = 0;
  for (size_t first = 0; first < rules.size(); first += 50) {
    std::vector<int> clients;
    for (size_t i = first; i < first + 50; ++i) {
      int fd = ConnectLoopbackFrom(kLoopback, rules[i].listenPort);
      if (fd >= 0) SendAll(fd, "GET /page.txt HTTP/1.0\r\n\r\n");
      clients.push_back(fd);
    }
    auto deadline = std::chrono::steady_clock::now() + 5s;
    for (int fd : clients) {
      if (fd < 0) continue;
      auto left = std::max(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()), 1ms);
      relayed += EndsWith(ReadUntilClosed(fd, left), kPage);
      ::close(fd);
    }
  }
  EXPECT_EQ(relayed, 200);
}

class PortMapUdpTest : public PortMapTest {
 protected:
  // A UDP rule to 127.0.0.1:destPort for the loopback client's address user.
  void OpenUdp(int port, int destPort, Ipv4 listenAddress = 0) {
    PortMapRule rule = Rule("Echo", port, "127.0.0.1", destPort, "");
    rule.protocol = kPortMapUdp;
    rule.listenAddress = listenAddress;
    Open({rule}, {AddressUser("127.0.0.1", "At 127.0.0.1")});
  }
  int UdpPort() {
    int port = 0;
    int probe = DatagramSocket(kLoopback, port);
    ::close(probe);
    return port;
  }
};

TEST_F(PortMapUdpTest, ARuleBoundToAnotherAddressAnswersOnEveryLocalAddress) {
  UdpEcho echo;
  ASSERT_TRUE(echo.Start());
  int port = UdpPort();
  OpenUdp(port, echo.port(), 0xC0A80001);  // 192.168.0.1: not an address of this machine
  int clientPort = 0;
  int client = DatagramSocket(kLoopback, clientPort);
  SendDatagram(client, "hello", port, kLoopback);
  int from = 0;
  EXPECT_EQ(ReceiveDatagram(client, &from), "hello");
  EXPECT_EQ(from, port) << "the answer comes from the rule's port";
  SendDatagram(client, "again", port, 0x7F000005);
  EXPECT_EQ(ReceiveDatagram(client), "again");
  ::close(client);
}

TEST_F(PortMapUdpTest, PortsOfOneAddressShareAConversationAndAnswersGoToTheLatest) {
  int destPort = 0;
  int destination = DatagramSocket(kLoopback, destPort);
  int port = UdpPort();
  OpenUdp(port, destPort);
  int portA = 0, portB = 0;
  int a = DatagramSocket(kLoopback, portA);
  int b = DatagramSocket(kLoopback, portB);
  int relayA = 0, relayB = 0;
  SendDatagram(a, "from a", port, kLoopback);
  EXPECT_EQ(ReceiveDatagram(destination, &relayA), "from a");
  SendDatagram(b, "from b", port, kLoopback);
  EXPECT_EQ(ReceiveDatagram(destination, &relayB), "from b");
  EXPECT_EQ(relayA, relayB) << "one conversation sends from one socket";
  SendDatagram(destination, "answer", relayB, kLoopback);
  EXPECT_EQ(ReceiveDatagram(b), "answer");
  EXPECT_EQ(ReceiveDatagram(a, nullptr, 300ms), "") << "the earlier port hears nothing";
  SendDatagram(a, "a again", port, kLoopback);
  EXPECT_EQ(ReceiveDatagram(destination), "a again");
  SendDatagram(destination, "second answer", relayA, kLoopback);
  EXPECT_EQ(ReceiveDatagram(a), "second answer");
  EXPECT_EQ(ReceiveDatagram(b, nullptr, 300ms), "");

  // Each datagram is relayed once, however fast they come.
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) SendDatagram(a, "n" + std::to_string(i), port, kLoopback);
  int got = 0;
  for (std::string datagram; !(datagram = ReceiveDatagram(destination, nullptr, 1s)).empty(); ++got)
    seen.insert(datagram);
  EXPECT_EQ(got, 50);
  EXPECT_EQ(seen.size(), 50u);
  ::close(a);
  ::close(b);
  ::close(destination);
}

TEST_F(PortMapUdpTest, EightQuietSecondsEndAConversationAndTheNextDatagramStartsANewOne) {
  int destPort = 0;
  int destination = DatagramSocket(kLoopback, destPort);
  int port = UdpPort();
  OpenUdp(port, destPort);
  int clientPort = 0;
  int client = DatagramSocket(kLoopback, clientPort);
  int first = 0, second = 0;
  SendDatagram(client, "one", port, kLoopback);
  EXPECT_EQ(ReceiveDatagram(destination, &first), "one");
  SendDatagram(destination, "reply", first, kLoopback);
  EXPECT_EQ(ReceiveDatagram(client), "reply");
  std::this_thread::sleep_for(8500ms);
  SendDatagram(client, "two", port, kLoopback);
  EXPECT_EQ(ReceiveDatagram(destination, &second), "two");
  EXPECT_NE(first, second) << "a new conversation has a socket of its own";
  EXPECT_EQ(gateway_->process->Stop(), 0);
  std::vector<std::string> lines = Lines(TodaysLog());
  ASSERT_EQ(lines.size(), 2u) << TodaysLog();
  EXPECT_EQ(lines[0].substr(0, 40), "Echo, At 127.0.0.1, 127.0.0.1, 127.0.0.1") << lines[0];
  EXPECT_EQ(LogField(lines[0], 8), "5") << "the reply";
  EXPECT_EQ(LogField(lines[0], 9), "3") << "the datagram";
  EXPECT_EQ(LogField(lines[1], 9), "3");
  ::close(client);
  ::close(destination);
}

}  // namespace
}  // namespace brindlex::testing
