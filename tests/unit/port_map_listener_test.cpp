// The listener's reopen of the rules' sockets: an enabled rule without a
// socket gets one (TCP on its address, UDP on every address) with its
// monitor line, a rule that has one keeps it, and a socket no rule holds
// any more is let go and its port freed.
#include "net/port_map_listener.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "core/value_codec.h"

namespace brindlex {
namespace {

// Whether a socket of `type` could bind 127.0.0.1:port right now.
bool PortFree(int type, int port) {
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
  ::close(fd);
  return free;
}

// A port of `type` the kernel just handed out and took back.
int SomePort(int type) {
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(sa);
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  ::close(fd);
  return ntohs(sa.sin_port);
}

PortMapRule Rule(const std::string& name, int port, std::uint8_t protocol) {
  PortMapRule rule;
  rule.name = name;
  rule.listenPort = static_cast<std::uint16_t>(port);
  rule.protocol = protocol;
  return rule;
}

class PortMapReopenTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ReplacePortMapRules({});
    held_.clear();
  }
  std::vector<std::string> Reopen() {
    std::vector<std::string> reports;
    ReopenPortMapping(held_, reports);
    return reports;
  }
  std::vector<std::shared_ptr<PortMapSocket>> held_;
};

TEST_F(PortMapReopenTest, EnabledRulesGetTheirSocketsOnceAndTheListenerHoldsThem) {
  int tcp = SomePort(SOCK_STREAM);
  int udp = SomePort(SOCK_DGRAM);
  PortMapRule off = Rule("Off", SomePort(SOCK_STREAM), kPortMapTcp);
  off.disabled = true;
  PortMapRule web = Rule("Web", tcp, kPortMapTcp);
  web.listenAddress = 0x7F000001;
  PortMapRule dns = Rule("Dns", udp, kPortMapUdp);
  dns.listenAddress = 0xC0A80001;  // not an address of this machine: a UDP rule does not use it
  ReplacePortMapRules({web, off, dns});
  std::vector<std::string> reports = Reopen();
  EXPECT_EQ(reports, (std::vector<std::string>{"Открытие сокета 'Web', порт=" + std::to_string(tcp) + "; - Ok",
                                               "Открытие сокета 'Dns', порт=" + std::to_string(udp) + "; - Ok"}));
  EXPECT_EQ(held_.size(), 2u);
  EXPECT_FALSE(PortFree(SOCK_STREAM, tcp));
  EXPECT_FALSE(PortFree(SOCK_DGRAM, udp));
  EXPECT_TRUE(PortFree(SOCK_STREAM, off.listenPort));
  std::vector<PortMapRule> rules = PortMapRules();
  EXPECT_EQ(rules[0].socket, held_[0]);
  EXPECT_EQ(rules[1].socket, nullptr);
  EXPECT_TRUE(Reopen().empty()) << "sockets that are open stay as they are";
  EXPECT_EQ(held_.size(), 2u);
}

TEST_F(PortMapReopenTest, ASocketNoRuleHoldsIsLetGoAndAFailedOpenIsTriedAgain) {
  int tcp = SomePort(SOCK_STREAM);
  ReplacePortMapRules({Rule("Web", tcp, kPortMapTcp), Rule("Zero", 0, kPortMapTcp)});
  std::vector<std::string> reports = Reopen();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1], "Открытие сокета 'Zero', порт=0; - Error! Invalid argument");
  std::vector<PortMapRule> rules = PortMapRules();
  rules[0].disabled = true;
  rules[0].socket.reset();
  ReplacePortMapRules(rules);
  reports = Reopen();
  EXPECT_EQ(reports, (std::vector<std::string>{"Открытие сокета 'Zero', порт=0; - Error! Invalid argument"}));
  EXPECT_TRUE(held_.empty());
  EXPECT_TRUE(PortFree(SOCK_STREAM, tcp)) << "the switched-off rule's port is closed";
}

}  // namespace
}  // namespace brindlex
