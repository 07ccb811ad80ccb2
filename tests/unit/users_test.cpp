#include "core/users.h"

#include <functional>
#include <gtest/gtest.h>

#include "tests/unit/account_test_env.h"
#include "tests/unit/realistic_accounts.h"

namespace brindlex {
namespace {

using testing::AccountTest;

UserRecord Ivan() {
  UserRecord u;
  u.login = "ivan";
  u.name = "Иван";
  u.password = "se;cret";
  u.reportEmail = "ivan@example.ru";
  u.rules.maxDocumentMb = 2.5;
  u.rules.monthMinutes = 600;
  u.rules.monthMb = 1000;
  u.rules.dayMinutes = 60;
  u.rules.dayMb = 100.75;
  u.rules.monthlyReport = true;
  u.schedule = ParseSchedule("1-24/1-24/1-24/1-24/1-24///");
  u.rules.speedNormal = 64;
  u.rules.speedExceeded = 8;
  u.groupNumber = 3;
  u.admin = true;
  u.rules.protocolDenied = {false, false, true, false, false, true};
  u.rules.passAuthToParent = true;
  u.rules.prepaid = true;
  u.rules.bigTransferMb = 50;
  u.rules.bigTransferSpeed = 16;
  u.rules.countIncoming = true;
  u.rules.allowedAfterExceed = {true, false, false, false, false, false};
  u.rules.dialUpDenied = true;
  return u;
}

TEST(UserRecordTest, SerialFormKeepsItsFieldOrder) {
  const UserRecord ivan = Ivan();
  const std::string text = FormatUserRecord(ivan);
  EXPECT_EQ(std::string(RecordField(text, 0)), "Иван");
  EXPECT_EQ(Unscramble(RecordField(text, 1)), "se;cret");
  EXPECT_EQ(text.substr(text.find("; ivan@")),
            "; ivan@example.ru; 2.5; 600; 1000; 60; 100.75; 0; 1; 1-24/1-24/1-24/1-24/1-24///; 64; 8; 3; 1; 0; 0; "
            "0; 0; 1; 0; 0; 1; 0; 1; 0; 1; 50; 16; 0; 1; 1; 0; 0; 0; 0; 0; 1");
  UserRecord read;
  read.login = "ivan";
  ParseUserRecord(text, read);
  EXPECT_EQ(read, ivan);
}

TEST(UserRecordTest, ShortRecordTakesByAddressFromTheLogin) {
  struct Case {
    const char* login;
    const char* record;
    bool byAddress;
  } cases[] = {
      {"192.168.0.5", "Old; *; ; 0; 0; 0; 0; 0; 0; 0; 1-24/; 0; 0; 0; 0; 0", true},
      {"ivan", "Old; *; ; 0; 0; 0; 0; 0; 0; 0; 1-24/; 0; 0; 0; 0; 0", false},
      {"192.168.0.5", "Old; *; ; 0; 0; 0; 0; 0; 0; 0; 1-24/; 0; 0; 0; 0; 0; 0", false},
      {"ivan", "Old; *; ; 0; 0; 0; 0; 0; 0; 0; 1-24/; 0; 0; 0; 0; 0; 1", true},
      {"0.0.0.0", "Old", false},
  };
  for (const Case& c : cases) {
    UserRecord user;
    user.login = c.login;
    ParseUserRecord(c.record, user);
    EXPECT_EQ(user.byAddress, c.byAddress) << c.login << " / " << c.record;
  }
}

class UsersTest : public AccountTest {};

TEST_F(UsersTest, UserOfAMissingGroupLandsInGroupZero) {
  LoadFrom(
      "[Groups]\r\n00000000=Default\r\n00000004=Four\r\n"
      "[Users]\r\na=A; *; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 4\r\nb=B; *; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 9\r\n");
  EXPECT_EQ(FindUser("a")->group, FindGroup(4));
  EXPECT_EQ(FindUser("b")->groupNumber, 0u);
  EXPECT_EQ(FindUser("b")->group, FindGroup(0));
  EXPECT_FALSE(FindUser("b")->deleted);
}

TEST_F(UsersTest, FindOrCreate) {
  LoadFrom("[Users]\r\nIvan=Ivan\r\n");
  EXPECT_EQ(FindOrCreateUser(""), nullptr);
  EXPECT_EQ(FindOrCreateUser("IVAN"), FindUser("ivan"));
  UserRecord* fresh = FindOrCreateUser("petr");
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(fresh->deleted);
  EXPECT_EQ(fresh->speedHistory[0], -1);
  EXPECT_EQ(fresh->speedHistory[kSpeedHistorySlots - 1], -1);
  EXPECT_EQ(FindActiveUser("petr"), nullptr);
  while (Users().size() < kMaxUsers) FindOrCreateUser("u" + std::to_string(Users().size()));
  EXPECT_EQ(FindOrCreateUser("one-too-many"), nullptr);
  EXPECT_EQ(FindOrCreateUser("petr"), fresh);
}

TEST_F(UsersTest, AtMost500Users) {
  std::string text = "[Users]\r\n";
  for (int n = 0; n < 510; ++n) text += "u" + std::to_string(n) + "=U\r\n";
  LoadFrom(text);
  EXPECT_EQ(Users().size(), kMaxUsers);
  EXPECT_EQ(FindUser("u509"), nullptr);
}

// One change to each access rule, to a value both serial forms hold exactly.
const std::vector<std::function<void(AccessRules&)>>& OneChangePerRule() {
  static const std::vector<std::function<void(AccessRules&)>> changes = {
      [](AccessRules& r) { r.dailyReport = !r.dailyReport; },
      [](AccessRules& r) { r.monthlyReport = !r.monthlyReport; },
      [](AccessRules& r) { r.countOutgoing = !r.countOutgoing; },
      [](AccessRules& r) { r.countIncoming = !r.countIncoming; },
      [](AccessRules& r) { r.monthMb += 0.01; },
      [](AccessRules& r) { r.monthMinutes += 1; },
      [](AccessRules& r) { r.dayMb += 2; },
      [](AccessRules& r) { r.dayMinutes += 3; },
      [](AccessRules& r) { r.speedNormal += 4; },
      [](AccessRules& r) { r.speedExceeded += 5; },
      [](AccessRules& r) { r.protocolDenied[0] = !r.protocolDenied[0]; },
      [](AccessRules& r) { r.protocolDenied[4] = !r.protocolDenied[4]; },
      [](AccessRules& r) { r.allowedAfterExceed[1] = !r.allowedAfterExceed[1]; },
      [](AccessRules& r) { r.allowedAfterExceed[5] = !r.allowedAfterExceed[5]; },
      [](AccessRules& r) { r.maxDocumentMb += 6.5; },
      [](AccessRules& r) { r.bigTransferMb += 7; },
      [](AccessRules& r) { r.bigTransferSpeed += 8.25; },
      [](AccessRules& r) { r.finishTransfers = !r.finishTransfers; },
      [](AccessRules& r) { r.passAuthToParent = !r.passAuthToParent; },
      [](AccessRules& r) { r.countCacheTraffic = !r.countCacheTraffic; },
      [](AccessRules& r) { r.prepaid = !r.prepaid; },
      [](AccessRules& r) { r.dialUpDenied = !r.dialUpDenied; },
  };
  return changes;
}

// A rule left out of a serial form, or read from another field's position,
// comes back as something else.
TEST(AccessRulesTest, EachRuleSurvivesBothSerialForms) {
  const auto& changes = OneChangePerRule();
  for (size_t i = 0; i < changes.size(); ++i) {
    AccessRules rules;
    changes[i](rules);
    ASSERT_NE(rules, AccessRules{}) << "rule " << i;
    GroupRecord group;
    group.rules = rules;
    GroupRecord groupRead;
    ParseGroupRecord(FormatGroupRecord(group), groupRead);
    EXPECT_EQ(groupRead.rules, rules) << "rule " << i;
    UserRecord user;
    user.rules = rules;
    UserRecord userRead;
    ParseUserRecord(FormatUserRecord(user), userRead);
    EXPECT_EQ(userRead.rules, rules) << "rule " << i;
  }
}

TEST(AccessRulesTest, AUserDiffersFromItsGroupInAnyOneRule) {
  GroupRecord group = testing::MakeRealisticAccounts(8, 0).groups[7];
  UserRecord user;
  EXPECT_FALSE(DiffersFromGroup(user)) << "no group, nothing to differ from";
  user.group = &group;
  EXPECT_TRUE(DiffersFromGroup(user));
  user.rules = group.rules;
  EXPECT_FALSE(DiffersFromGroup(user));

  const auto& changes = OneChangePerRule();
  for (size_t i = 0; i < changes.size(); ++i) {
    UserRecord changed = user;
    changes[i](changed.rules);
    EXPECT_TRUE(DiffersFromGroup(changed)) << "rule " << i;
  }
  // What a user keeps as its own whatever the group says is no rule.
  UserRecord personal = user;
  personal.name = "Other";
  personal.schedule = FullSchedule();
  personal.disabled = true;
  personal.denyFilter = "1; 0; 1, x, 0;";
  personal.clientAddresses = "10.0.0.1-10.0.0.9";
  EXPECT_FALSE(DiffersFromGroup(personal));
}

// Compares what a user record stores and what loading sets, not where its
// group record happens to live.
void ExpectSameUsers(std::vector<UserRecord> expected) {
  ASSERT_EQ(Users().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    UserRecord loaded = *Users()[i];
    ASSERT_NE(loaded.group, nullptr);
    EXPECT_EQ(loaded.group->number, loaded.groupNumber);
    loaded.group = nullptr;
    expected[i].group = nullptr;
    EXPECT_EQ(loaded, expected[i]) << loaded.login;
  }
}

TEST_F(UsersTest, RealisticFileSurvivesReadWriteRead) {
  const testing::RealisticAccounts accounts = testing::MakeRealisticAccounts(500, 500);
  LoadFrom(accounts.text);
  ASSERT_EQ(Groups().size(), accounts.groups.size());
  for (size_t i = 0; i < accounts.groups.size(); ++i) EXPECT_EQ(*Groups()[i], accounts.groups[i]);
  ExpectSameUsers(accounts.users);
  EXPECT_EQ(ReadText(SettingsPath()), accounts.text);  // loading changed nothing

  IniDocument document = ParseIni(accounts.text);
  for (const auto& group : Groups()) StoreGroup(*group, document);
  for (const auto& user : Users()) StoreUser(*user, document);
  EXPECT_EQ(FormatIni(document), accounts.text);

  LoadFrom(FormatIni(document));
  for (size_t i = 0; i < accounts.groups.size(); ++i) EXPECT_EQ(*Groups()[i], accounts.groups[i]);
  ExpectSameUsers(accounts.users);
}

}  // namespace
}  // namespace brindlex
