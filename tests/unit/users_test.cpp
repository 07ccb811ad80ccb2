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
  u.maxDocumentMb = 2.5;
  u.monthMinutes = 600;
  u.monthMb = 1000;
  u.dayMinutes = 60;
  u.dayMb = 100.75;
  u.monthlyReport = true;
  u.schedule = ParseSchedule("1-24/1-24/1-24/1-24/1-24///");
  u.speedNormal = 64;
  u.speedExceeded = 8;
  u.groupNumber = 3;
  u.admin = true;
  u.protocolDenied = {false, false, true, false, false, true};
  u.passAuthToParent = true;
  u.prepaid = true;
  u.bigTransferMb = 50;
  u.bigTransferSpeed = 16;
  u.countIncoming = true;
  u.allowedAfterExceed = {true, false, false, false, false, false};
  u.dialUpDenied = true;
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

TEST(GroupRulesTest, CopyAndDifferCoverTheSameFields) {
  GroupRecord group = testing::MakeRealisticAccounts(8, 0).groups[7];
  UserRecord user;
  user.group = &group;
  EXPECT_TRUE(DiffersFromGroup(user));
  CopyGroupRulesToUser(user, group);
  EXPECT_FALSE(DiffersFromGroup(user));
  EXPECT_TRUE(user.name.empty() && user.schedule == Schedule{} && user.denyFilter.empty() &&
              user.clientAddresses.empty());

  const std::vector<std::function<void(UserRecord&)>> rules = {
      [](UserRecord& u) { u.dailyReport = !u.dailyReport; },
      [](UserRecord& u) { u.monthlyReport = !u.monthlyReport; },
      [](UserRecord& u) { u.countOutgoing = !u.countOutgoing; },
      [](UserRecord& u) { u.countIncoming = !u.countIncoming; },
      [](UserRecord& u) { u.monthMb += 0.01; },
      [](UserRecord& u) { u.monthMinutes += 1; },
      [](UserRecord& u) { u.dayMb += 1; },
      [](UserRecord& u) { u.dayMinutes += 1; },
      [](UserRecord& u) { u.speedNormal += 1; },
      [](UserRecord& u) { u.speedExceeded += 1; },
      [](UserRecord& u) { u.protocolDenied[4] = !u.protocolDenied[4]; },
      [](UserRecord& u) { u.allowedAfterExceed[5] = !u.allowedAfterExceed[5]; },
      [](UserRecord& u) { u.maxDocumentMb += 1; },
      [](UserRecord& u) { u.bigTransferMb += 1; },
      [](UserRecord& u) { u.bigTransferSpeed += 1; },
      [](UserRecord& u) { u.finishTransfers = !u.finishTransfers; },
      [](UserRecord& u) { u.passAuthToParent = !u.passAuthToParent; },
      [](UserRecord& u) { u.countCacheTraffic = !u.countCacheTraffic; },
      [](UserRecord& u) { u.prepaid = !u.prepaid; },
      [](UserRecord& u) { u.dialUpDenied = !u.dialUpDenied; },
  };
  for (size_t i = 0; i < rules.size(); ++i) {
    UserRecord changed = user;
    rules[i](changed);
    EXPECT_TRUE(DiffersFromGroup(changed)) << "rule " << i;
    CopyGroupRulesToUser(changed, group);
    EXPECT_EQ(changed, user) << "rule " << i;
  }
  UserRecord personal = user;
  personal.name = "Other";
  personal.schedule = FullSchedule();
  personal.disabled = true;
  personal.denyFilter = "1; 0; 1, x, 0;";
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
