// The rule editor: the new rule's defaults, the OK checks in their order
// with the field and message of each, what the stored rule keeps, the
// socket a change of listening drops, delete and on/off, and the grid texts.
#include "portmap/port_map_editor.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "core/report_exception.h"

namespace brindlex {
namespace {

const std::string kFieldRequired = "Необходимо заполнить поле!";
const std::string kNameTaken = "Связь с таким именем уже существует!";
const std::string kUserRequired = "Необходимо определить пользователя!";
const std::string kAddressCaption = "Ошибка преобразования";
const std::string kAddressMessage = "Необходимо ввести IP-адрес в формате 'a.b.c.d'";

std::unique_ptr<UserRecord> User(const std::string& name, const std::string& login, bool deleted = false) {
  auto user = std::make_unique<UserRecord>();
  user->name = name;
  user->login = login;
  user->deleted = deleted;
  return user;
}

class PortMapEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::unique_ptr<UserRecord>> users;
    users.push_back(User("Bob", "bob"));
    users.push_back(User("Gone", "gone", true));
    users.push_back(User("Alice", "alice"));
    choices_ = UserChoices(users);
    PortMapRule existing;
    existing.name = "Mail";
    existing.listenPort = 25;
    existing.destHost = "mail.lan";
    existing.destPort = 25;
    rules_.push_back(existing);
  }
  // A dialog that passes every check.
  PortMapDialog Valid() {
    PortMapDialog dialog = NewRuleDialog(rules_, choices_);
    dialog.name = "Web";
    dialog.listenPort = "8080";
    dialog.destHost = "web.lan";
    dialog.destPort = "80";
    return dialog;
  }
  void ExpectRefused(PortMapDialog dialog, DialogField field, const std::string& caption, const std::string& message) {
    size_t before = rules_.size();
    DialogOutcome outcome = ApplyRuleDialog(rules_, -1, dialog, choices_);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.field, field);
    EXPECT_EQ(outcome.caption, caption);
    EXPECT_EQ(outcome.message, message);
    EXPECT_EQ(rules_.size(), before) << "a refused dialog stores nothing";
  }

  std::vector<UserChoice> choices_;
  std::vector<PortMapRule> rules_;
};

TEST_F(PortMapEditorTest, TheUserListStartsWithTheAddressEntryAndLeavesDeletedUsersOut) {
  ASSERT_EQ(choices_.size(), 3u);
  EXPECT_EQ(choices_[0].text, "  По IP-адресу");
  EXPECT_EQ(choices_[0].login, "");
  EXPECT_EQ(choices_[1].text, "Bob (bob)");
  EXPECT_EQ(choices_[2].text, "Alice (alice)");
  EXPECT_EQ(choices_[2].login, "alice");
  EXPECT_EQ(SourceKindChoices(), (std::vector<std::string>{"Любой", "Адреса клиентов", "Диапазон IP"}));
  EXPECT_EQ(ListenAddressChoices({0x0A000001, 0xC0A80001}),
            (std::vector<std::string>{"Any", "10.0.0.1", "192.168.0.1"}));
}

TEST_F(PortMapEditorTest, ANewRuleIsNamedAfterTheRuleCountWithEverythingAtItsDefault) {
  PortMapDialog dialog = NewRuleDialog(rules_, choices_);
  EXPECT_EQ(dialog.name, "Связь 1");
  EXPECT_EQ(dialog.protocol, kPortMapTcp);
  EXPECT_EQ(dialog.sourceKind, kSourceAny);
  EXPECT_EQ(dialog.listenAddress, 0u);
  EXPECT_EQ(dialog.listenPort, "0");
  EXPECT_EQ(dialog.destPort, "0");
  EXPECT_EQ(dialog.destHost, "");
  EXPECT_FALSE(dialog.authByClient);
  EXPECT_EQ(dialog.user, 0) << "the address entry is preselected for an empty login";
}

TEST_F(PortMapEditorTest, EditingNeedsASelectionAndPreselectsTheRulesUser) {
  EXPECT_FALSE(EditRuleDialog(rules_, -1, choices_));
  EXPECT_FALSE(EditRuleDialog(rules_, 1, choices_));
  rules_[0].login = "alice";
  auto dialog = EditRuleDialog(rules_, 0, choices_);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->user, 2);
  EXPECT_EQ(dialog->name, "Mail");
  EXPECT_EQ(dialog->listenPort, "25");
  rules_[0].login = "gone";
  EXPECT_EQ(EditRuleDialog(rules_, 0, choices_)->user, -1) << "a deleted user is not in the list";
}

TEST_F(PortMapEditorTest, TypingIntoFromCopiesTheTextIntoTo) {
  PortMapDialog dialog = Valid();
  dialog.sourceTo = "10.0.0.9";
  TypeSourceFrom(dialog, "10.0.0.5");
  EXPECT_EQ(dialog.sourceFrom, "10.0.0.5");
  EXPECT_EQ(dialog.sourceTo, "10.0.0.5");
}

TEST_F(PortMapEditorTest, TheChecksComeInTheirOrderEachWithItsFieldAndMessage) {
  PortMapDialog dialog = Valid();
  // Everything wrong at once: the name's check speaks first, then each
  // repaired field lets the next one speak.
  dialog.name = "  ";
  dialog.sourceKind = kSourceRange;
  dialog.sourceFrom = "10.0.0";
  dialog.sourceTo = "255.255.255.255";
  dialog.user = -1;
  dialog.listenPort = "80x";
  dialog.destHost = "";
  dialog.destPort = "-1";
  ExpectRefused(dialog, DialogField::kName, kApplicationTitle, kFieldRequired);
  dialog.name = "mail";
  ExpectRefused(dialog, DialogField::kName, kApplicationTitle, kNameTaken);
  dialog.name = "Web";
  ExpectRefused(dialog, DialogField::kSourceFrom, kAddressCaption, kAddressMessage);
  dialog.sourceFrom = "10.0.0.1";
  ExpectRefused(dialog, DialogField::kSourceTo, kAddressCaption, kAddressMessage);
  dialog.sourceTo = "10.0.0.7";
  ExpectRefused(dialog, DialogField::kUser, kApplicationTitle, kUserRequired);
  dialog.user = 1;
  ExpectRefused(dialog, DialogField::kListenPort, kAddressCaption, "\"80x\"- некорректное число");
  dialog.listenPort = "8080";
  ExpectRefused(dialog, DialogField::kDestHost, kApplicationTitle, kFieldRequired);
  dialog.destHost = "web.lan";
  ExpectRefused(dialog, DialogField::kDestPort, kAddressCaption, "\"-1\"- некорректное число");
  dialog.destPort = "65536";
  ExpectRefused(dialog, DialogField::kDestPort, kAddressCaption, "\"65536\"- некорректное число");
  dialog.destPort = " 80 ";
  DialogOutcome outcome = ApplyRuleDialog(rules_, -1, dialog, choices_);
  ASSERT_TRUE(outcome.ok) << outcome.message;
  ASSERT_EQ(rules_.size(), 2u);
  const PortMapRule& stored = rules_[1];
  EXPECT_EQ(stored.name, "Web");
  EXPECT_EQ(stored.sourceFrom, 0x0A000001u);
  EXPECT_EQ(stored.sourceTo, 0x0A000007u);
  EXPECT_EQ(stored.listenPort, 8080);
  EXPECT_EQ(stored.destPort, 80);
  EXPECT_EQ(stored.login, "bob");
  EXPECT_EQ(dialog.destPort, "80") << "number fields are rewritten in their normal form";
}

TEST_F(PortMapEditorTest, AddressFieldsAreCheckedOnlyForARangeAndAClientAuthorisedRuleNeedsNoUser) {
  PortMapDialog dialog = Valid();
  dialog.sourceKind = kSourceUsersAddrs;
  dialog.sourceFrom = "nonsense";
  dialog.authByClient = true;
  dialog.user = 1;
  ASSERT_TRUE(ApplyRuleDialog(rules_, -1, dialog, choices_).ok);
  EXPECT_EQ(rules_.back().login, "") << "authorisation by the client stores no login";
  EXPECT_TRUE(rules_.back().authByClient);
  EXPECT_EQ(rules_.back().sourceFrom, 0u);
  PortMapDialog byAddress = Valid();
  byAddress.name = "ByAddress";
  byAddress.user = 0;
  ASSERT_TRUE(ApplyRuleDialog(rules_, -1, byAddress, choices_).ok);
  EXPECT_EQ(rules_.back().login, "");
  EXPECT_FALSE(rules_.back().authByClient);
}

TEST_F(PortMapEditorTest, EditingKeepsItsOwnNameAndItsSocketUnlessItsListeningChanges) {
  auto socket = std::make_shared<PortMapSocket>(-1);
  rules_[0].socket = socket;
  auto dialog = EditRuleDialog(rules_, 0, choices_);
  ASSERT_TRUE(dialog);
  dialog->name = "MAIL";
  dialog->destHost = "other.lan";
  ASSERT_TRUE(ApplyRuleDialog(rules_, 0, *dialog, choices_).ok);
  EXPECT_EQ(rules_[0].name, "MAIL");
  EXPECT_EQ(rules_[0].destHost, "other.lan");
  EXPECT_EQ(rules_[0].socket, socket);
  dialog = EditRuleDialog(rules_, 0, choices_);
  dialog->listenPort = "2525";
  ASSERT_TRUE(ApplyRuleDialog(rules_, 0, *dialog, choices_).ok);
  EXPECT_EQ(rules_[0].socket, nullptr) << "another port needs another socket";
  rules_[0].socket = socket;
  dialog = EditRuleDialog(rules_, 0, choices_);
  dialog->protocol = kPortMapUdp;
  ASSERT_TRUE(ApplyRuleDialog(rules_, 0, *dialog, choices_).ok);
  EXPECT_EQ(rules_[0].socket, nullptr) << "a TCP socket serves no UDP rule";
}

TEST_F(PortMapEditorTest, WhatTheFileCannotKeepIsRefusedInItsField) {
  const std::string unstorable = "Поле не может содержать точку с запятой, знаки '=', '[', ']' и управляющие символы!";
  size_t count = rules_.size();
  for (const char* name : {" a=b ", "a;b", "[a]", "a\tb"}) {
    PortMapDialog dialog = Valid();
    dialog.name = name;
    DialogOutcome outcome = ApplyRuleDialog(rules_, -1, dialog, choices_);
    EXPECT_FALSE(outcome.ok) << name;
    EXPECT_EQ(outcome.field, DialogField::kName) << name;
    EXPECT_EQ(outcome.message, unstorable) << name;
  }
  PortMapDialog dialog = Valid();
  dialog.destHost = "web;lan\r\n";
  DialogOutcome outcome = ApplyRuleDialog(rules_, -1, dialog, choices_);
  EXPECT_EQ(outcome.field, DialogField::kDestHost);
  EXPECT_EQ(outcome.message, unstorable);
  EXPECT_EQ(rules_.size(), count) << "nothing stored";
  dialog.destHost = "web lan:81";
  EXPECT_TRUE(ApplyRuleDialog(rules_, -1, dialog, choices_).ok) << "blanks are kept";
}

TEST_F(PortMapEditorTest, DeleteAndOnOffActOnTheSelectionOnly) {
  rules_.push_back(rules_[0]);
  rules_[1].name = "Second";
  auto socket = std::make_shared<PortMapSocket>(-1);
  rules_[1].socket = socket;
  SwitchRule(rules_, 5);
  DeleteRule(rules_, -1);
  ASSERT_EQ(rules_.size(), 2u);
  SwitchRule(rules_, 1);
  EXPECT_TRUE(rules_[1].disabled);
  EXPECT_EQ(rules_[1].socket, nullptr);
  EXPECT_FALSE(rules_[0].disabled);
  SwitchRule(rules_, 1);
  EXPECT_FALSE(rules_[1].disabled);
  DeleteRule(rules_, 0);
  ASSERT_EQ(rules_.size(), 1u);
  EXPECT_EQ(rules_[0].name, "Second");
}

TEST_F(PortMapEditorTest, TheGridShowsEachColumnAsTheAdministratorReadsIt) {
  EXPECT_EQ(GridHeadings()[0], "Имя");
  EXPECT_EQ(GridHeadings()[4], "Сервер назначения");
  PortMapRule rule;
  rule.name = "Dns";
  rule.protocol = kPortMapUdp;
  rule.sourceKind = kSourceRange;
  rule.sourceFrom = 0x0A000001;
  rule.sourceTo = 0x0A000009;
  rule.listenAddress = 0xC0A80001;
  rule.listenPort = 53;
  rule.destHost = "ns.lan";
  rule.destPort = 5353;
  rule.login = "bob";
  using Row = std::array<std::string, kGridColumns>;
  EXPECT_EQ(GridRow(rule), (Row{"Dns", "UDP", "10.0.0.1-10.0.0.9", "192.168.0.1:53", "ns.lan:5353", "bob"}));
  rule.sourceTo = rule.sourceFrom;
  rule.protocol = kPortMapTcp;
  rule.listenAddress = 0;
  rule.login = "";
  EXPECT_EQ(GridRow(rule), (Row{"Dns", "TCP", "10.0.0.1", "Any:53", "ns.lan:5353", "По IP"}));
  rule.sourceKind = kSourceUsersAddrs;
  EXPECT_EQ(GridRow(rule)[2], "Адреса клиентов");
  rule.sourceKind = kSourceAny;
  EXPECT_EQ(GridRow(rule)[2], "Любой");
}

}  // namespace
}  // namespace brindlex
