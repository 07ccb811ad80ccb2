// The rule list: who a rule's source admits, and which rules of a list read
// afresh take over the sockets of the list in force.
#include "core/port_map_rules.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <memory>

#include "core/clock.h"
#include "core/connection.h"

namespace brindlex {
namespace {

TEST(PortMapRules, ARangeWithEqualEndsAdmitsExactlyThatAddress) {
  PortMapRule rule;
  rule.sourceKind = kSourceRange;
  rule.sourceFrom = rule.sourceTo = 0x7F000002;
  EXPECT_TRUE(SourceAdmits(rule, 0x7F000002, {}));
  EXPECT_FALSE(SourceAdmits(rule, 0x7F000001, {}));
  EXPECT_FALSE(SourceAdmits(rule, 0x7F000003, {}));
}

TEST(PortMapRules, ARangeComparesAsUnsignedNumbers) {
  PortMapRule rule;
  rule.sourceKind = kSourceRange;
  rule.sourceFrom = 0x0A000000;  // 10.0.0.0
  rule.sourceTo = 0xC0A800FF;    // 192.168.0.255: above 2^31
  EXPECT_TRUE(SourceAdmits(rule, 0xAC100001, {}));
  EXPECT_FALSE(SourceAdmits(rule, 0xC0A80100, {}));
  EXPECT_FALSE(SourceAdmits(rule, 0x09FFFFFF, {}));
}

TEST(PortMapRules, TheClientAddressKindUsesTheAddressListAndAnyAdmitsAll) {
  PortMapRule rule;
  rule.sourceKind = kSourceUsersAddrs;
  std::vector<std::string> list{"10.0.0.1-10.0.0.5"};
  EXPECT_TRUE(SourceAdmits(rule, 0x0A000003, list));
  EXPECT_FALSE(SourceAdmits(rule, 0x0A000006, list));
  rule.sourceKind = kSourceAny;
  EXPECT_TRUE(SourceAdmits(rule, 0x0A000006, list));
}

TEST(PortMapRules, AFreshListTakesOverTheSocketsOfRulesThatListenAlike) {
  auto tcp = std::make_shared<PortMapSocket>(-1);
  auto udp = std::make_shared<PortMapSocket>(-1);
  std::vector<PortMapRule> current(2);
  current[0].name = "Web";
  current[0].listenPort = 8080;
  current[0].socket = tcp;
  current[1].name = "Dns";
  current[1].protocol = kPortMapUdp;
  current[1].listenPort = 53;
  current[1].socket = udp;
  std::vector<PortMapRule> fresh = current;
  for (PortMapRule& rule : fresh) rule.socket.reset();
  fresh[0].name = "WEB";
  fresh[0].destHost = "elsewhere";
  fresh[1].listenAddress = 0x0A000001;  // not used by a UDP rule
  CarryOverSockets(current, fresh);
  EXPECT_EQ(fresh[0].socket, tcp);
  EXPECT_EQ(fresh[1].socket, udp);

  for (PortMapRule& rule : fresh) rule.socket.reset();
  fresh[0].listenPort = 8081;
  fresh[1].disabled = true;
  CarryOverSockets(current, fresh);
  EXPECT_EQ(fresh[0].socket, nullptr) << "another port";
  EXPECT_EQ(fresh[1].socket, nullptr) << "switched off";
  fresh[0].listenPort = 8080;
  fresh[0].listenAddress = 0x7F000001;
  CarryOverSockets(current, fresh);
  EXPECT_EQ(fresh[0].socket, nullptr) << "a TCP rule on another address";
}

TEST(PortMapRules, TheSocketIsClosedWithItsLastHolder) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
  auto socket = std::make_shared<PortMapSocket>(pair[0]);
  std::shared_ptr<PortMapSocket> conversation = socket;
  socket.reset();
  EXPECT_EQ(::send(pair[1], "x", 1, MSG_DONTWAIT), 1) << "still open for the conversation";
  conversation.reset();
  EXPECT_EQ(::send(pair[1], "x", 1, MSG_DONTWAIT | MSG_NOSIGNAL), -1) << "closed with its last holder";
  ::close(pair[1]);
}

TEST(PortMapRules, AConversationIsIdleOnlyAfterEightQuietSecondsWithNothingWaiting) {
  ConnectionRecord record;
  constexpr std::int64_t kMs = kPerformanceFrequency / 1000;
  record.lastDatagramCounter = 1000 * kMs;
  EXPECT_FALSE(ConversationIdleLocked(record, 9000 * kMs));
  EXPECT_TRUE(ConversationIdleLocked(record, 9001 * kMs));
  record.clientDatagrams.push_back({1234, "waiting"});
  EXPECT_FALSE(ConversationIdleLocked(record, 20000 * kMs)) << "a datagram waits to be relayed";
}

}  // namespace
}  // namespace brindlex
