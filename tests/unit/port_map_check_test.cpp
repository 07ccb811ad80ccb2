// Port-mapping rules that lead back into the gateway's own mapped ports, and
// rules open to every address while no interface limits who reaches them:
// the loop as the editor, the load and `--check` see it.
#include "portmap/port_map_check.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "portmap/port_map_editor.h"
#include "portmap/port_map_storage.h"

namespace brindlex {
namespace {

PortMapRule Rule(const std::string& name, std::uint16_t listenPort, const std::string& destHost,
                 std::uint16_t destPort, std::uint8_t protocol = kPortMapUdp) {
  PortMapRule rule;
  rule.name = name;
  rule.protocol = protocol;
  rule.listenPort = listenPort;
  rule.destHost = destHost;
  rule.destPort = destPort;
  rule.login = "bob";
  return rule;
}

TEST(PortMapCheckTest, ADestinationOnAMappedPortOfTheGatewayIsALoop) {
  std::vector<PortMapRule> rules = {Rule("Echo", 7000, "127.0.0.1", 7000)};
  // Into itself, by an address of the loopback net, by name, by the port written in the host.
  EXPECT_EQ(LoopTarget(rules[0], rules), &rules[0]);
  rules[0].destHost = "127.5.6.7";
  EXPECT_EQ(LoopTarget(rules[0], rules), &rules[0]);
  rules[0].destHost = "LocalHost";
  EXPECT_EQ(LoopTarget(rules[0], rules), &rules[0]);
  rules[0].destHost = "0.0.0.0:7000";
  rules[0].destPort = 53;
  EXPECT_EQ(LoopTarget(rules[0], rules), &rules[0]);

  // Through a second rule; the message names that rule and its port.
  std::vector<PortMapRule> pair = {Rule("A", 7000, "127.0.0.1", 7001), Rule("B", 7001, "10.0.0.9", 53)};
  ASSERT_EQ(LoopTarget(pair[0], pair), &pair[1]);
  EXPECT_NE(LoopText(pair[1]).find("7001"), std::string::npos);
  EXPECT_NE(LoopText(pair[1]).find("'B'"), std::string::npos);
  EXPECT_EQ(LoopTarget(pair[1], pair), nullptr) << "another host is no loop";
}

TEST(PortMapCheckTest, OnlyAnOpenPortOfTheSameProtocolAndAddressMakesALoop) {
  std::vector<PortMapRule> rules = {Rule("A", 7000, "127.0.0.1", 7001), Rule("B", 7001, "10.0.0.9", 53)};
  rules[1].disabled = true;
  EXPECT_EQ(LoopTarget(rules[0], rules), nullptr) << "a disabled rule does not listen";
  rules[1].disabled = false;
  rules[1].protocol = kPortMapTcp;
  EXPECT_EQ(LoopTarget(rules[0], rules), nullptr) << "TCP and UDP ports are apart";
  rules[1].protocol = kPortMapUdp;
  rules[1].listenAddress = 0x7F000002;  // listens on 127.0.0.2 only
  EXPECT_EQ(LoopTarget(rules[0], rules), nullptr);
  rules[0].destHost = "127.0.0.2";
  EXPECT_EQ(LoopTarget(rules[0], rules), &rules[1]);
  // A name is not looked up: it may lead anywhere.
  rules[0].destHost = "mail.lan";
  EXPECT_EQ(LoopTarget(rules[0], rules), nullptr);
}

TEST(PortMapCheckTest, ALoopIsTakenAsDisabledAtLoadAndRefusedByTheEditor) {
  std::vector<PortMapRule> rules = {Rule("Echo", 7000, "127.0.0.1", 7000), Rule("Dns", 5353, "10.0.0.9", 53)};
  DisableLoops(rules);
  EXPECT_TRUE(rules[0].disabled);
  EXPECT_FALSE(rules[1].disabled);

  std::vector<std::unique_ptr<UserRecord>> users;
  users.push_back(std::make_unique<UserRecord>());
  users[0]->name = "Bob";
  users[0]->login = "bob";
  std::vector<UserChoice> choices = UserChoices(users);
  std::vector<PortMapRule> list = {Rule("Dns", 5353, "10.0.0.9", 53)};
  PortMapDialog dialog = NewRuleDialog(list, choices);
  dialog.name = "Back";
  dialog.protocol = kPortMapUdp;
  dialog.authByClient = true;
  dialog.listenPort = "6000";
  dialog.destHost = "127.0.0.1";
  dialog.destPort = "5353";
  DialogOutcome outcome = ApplyRuleDialog(list, -1, dialog, choices);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.field, DialogField::kDestPort);
  EXPECT_EQ(outcome.message, LoopText(list[0]));
  EXPECT_EQ(list.size(), 1u);
  // Editing the existing rule into its own port is refused too; a rule saved
  // as disabled may keep any destination.
  dialog = *EditRuleDialog(list, 0, choices);
  dialog.authByClient = true;
  dialog.destHost = "localhost";
  dialog.destPort = "5353";
  outcome = ApplyRuleDialog(list, 0, dialog, choices);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.message, LoopText(list[0]));
  dialog.disabled = true;
  outcome = ApplyRuleDialog(list, 0, dialog, choices);
  EXPECT_TRUE(outcome.ok) << outcome.message;
}

TEST(PortMapCheckTest, TheCheckNamesLoopsAndRulesOpenToAnyoneWithTheirLines) {
  PortMapRule loop = Rule("Echo", 7000, "127.0.0.1", 7000);
  PortMapRule open = Rule("Web", 8081, "web.lan", 80, kPortMapTcp);
  open.authByClient = true;
  open.login.clear();
  PortMapRule fixedUser = Rule("Server", 2222, "10.0.0.5", 22, kPortMapTcp);
  PortMapRule ranged = open;
  ranged.name = "Ranged";
  ranged.sourceKind = kSourceUsersAddrs;
  std::string text = "[System]\r\nHttpPort=8080\r\n[PortMapping]\r\n";
  for (const PortMapRule& rule : {loop, open, fixedUser, ranged})
    text += rule.name + "=" + FormatRuleValue(rule) + "\r\n";
  std::vector<ConfigProblem> problems = CheckPortMapping(text);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].line, 4);
  EXPECT_EQ(problems[0].key, "Echo");
  EXPECT_EQ(problems[0].message, LoopText(loop));
  EXPECT_EQ(problems[1].line, 5);
  EXPECT_EQ(problems[1].key, "Web");
  EXPECT_NE(problems[1].message.find("InInterface"), std::string::npos);

  // With an interface that admits clients, only the loop stays.
  text.insert(text.find("[PortMapping]"), "InInterface=192.168.1.1\r\n");
  problems = CheckPortMapping(text);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].key, "Echo");
}

}  // namespace
}  // namespace brindlex
