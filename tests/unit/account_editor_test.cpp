#include "core/account_editor.h"

#include <gtest/gtest.h>

#include "core/strings.h"
#include "tests/unit/account_test_env.h"

namespace brindlex {
namespace {

class AccountEditorTest : public testing::AccountTest {
 protected:
  void SetUp() override {
    AccountTest::SetUp();
    LoadFrom(
        "[Groups]\r\n00000000=Default; ; 0; 0; 0; 0; 0; 0; 0; 1-24/1-24/1-24/1-24/1-24/1-24/1-24/\r\n"
        "00000004=Four; ; 3; 0; 0; 0; 0; 1; 0; 9-18/; 32; 0\r\n");
  }
  UserRecord* AddUser(const std::string& login, std::uint32_t group, bool byAddress = false) {
    UserRecord draft = NewUserDraft(*FindGroup(group));
    draft.login = login;
    draft.byAddress = byAddress;
    UserRecord* created = nullptr;
    EditOutcome outcome = ApplyNewUser(draft, &created);
    EXPECT_TRUE(outcome.ok) << outcome.message;
    return created;
  }
};

TEST_F(AccountEditorTest, NewGroupCopiesDefaultAndTakesTheNextNumber) {
  GroupRecord draft = NewGroupDraft();
  EXPECT_EQ(draft.number, 5u);
  EXPECT_EQ(draft.name, "Группа 5");
  EXPECT_EQ(draft.schedule, FindGroup(0)->schedule);
  draft.clientAddresses = "10.0.0.1-10.0.0.9";
  GroupRecord* created = nullptr;
  ASSERT_TRUE(ApplyNewGroup(draft, &created).ok);
  EXPECT_EQ(created, FindGroup(5));
  EXPECT_EQ(Stored("Groups", "00000005"), FormatGroupRecord(*created));
  EXPECT_EQ(Stored("UsersAddr", "g00000005"), "10.0.0.1-10.0.0.9");
  EXPECT_EQ(Stored("Filters", "g00000005"), "");
  EXPECT_EQ(Stored("FiltersW", "g00000005"), "");
  draft.name = "A, B";
  EXPECT_EQ(ApplyNewGroup(draft).message, Str(1165));
}

TEST_F(AccountEditorTest, NewGroupStartsWithoutConsoleState) {
  GroupRecord& base = *FindGroup(0);
  base.periodTotals.incoming = 5;
  base.speedHistory[0] = 9;
  base.viewFlags = 1;
  GroupRecord draft = NewGroupDraft();
  EXPECT_EQ(static_cast<const GroupConsoleState&>(draft), GroupConsoleState{});
  EXPECT_EQ(draft.rules, base.rules);
}

TEST_F(AccountEditorTest, SavingAGroupKeepsItsNumberAndConsoleState) {
  GroupRecord* four = FindGroup(4);
  four->periodTotals.incoming = 77;
  four->speedHistory[3] = 5;
  four->viewFlags = 2;
  GroupRecord edited = *four;
  edited.number = 9;
  edited.name = "Renamed";
  edited.rules.monthMb = 12;
  static_cast<GroupConsoleState&>(edited) = GroupConsoleState{};
  ASSERT_TRUE(SaveGroup(*four, edited).ok);
  EXPECT_EQ(four, FindGroup(4));
  EXPECT_EQ(four->name, "Renamed");
  EXPECT_EQ(four->rules.monthMb, 12);
  EXPECT_EQ(four->periodTotals.incoming, 77);
  EXPECT_EQ(four->speedHistory[3], 5);
  EXPECT_EQ(four->viewFlags, 2);
  EXPECT_EQ(Stored("Groups", "00000004"), FormatGroupRecord(*four));
  EXPECT_EQ(Stored("Groups", "00000009"), "<absent>");
}

TEST_F(AccountEditorTest, NewUserLoginChecks) {
  AddUser("ivan", 4);
  struct Case {
    const char* login;
    bool byAddress;
    const char* name;
    int message;  // 0 = accepted
  } cases[] = {
      {"  ", false, "X", 1162},
      {"IVAN", false, "X", 1163},
      {"10.0.0.300", true, "X", 781},
      {"255.255.255.255", true, "X", 781},
      {"a,b", false, "X", 1166},
      {"a;b", false, "X", 1166},
      {"a=b", false, "X", 1166},
      {"petr", false, "Petr, jr", 1165},
      {"petr", false, "Petr\n", 1165},
      {" Petr ", false, "Petr", 0},
      {"010.000.000.007", true, "Host", 0},
  };
  for (const Case& c : cases) {
    UserRecord draft = NewUserDraft(*FindGroup(0));
    draft.login = c.login;
    draft.byAddress = c.byAddress;
    draft.name = c.name;
    EditOutcome outcome = ApplyNewUser(draft);
    EXPECT_EQ(outcome.ok, c.message == 0) << c.login;
    if (c.message) {
      EXPECT_EQ(outcome.message, Str(c.message)) << c.login;
    }
  }
  EXPECT_NE(FindActiveUser("petr"), nullptr);
  EXPECT_EQ(FindUser("petr")->login, "petr");
  EXPECT_NE(FindActiveUser("10.0.0.7"), nullptr);
  EXPECT_EQ(Users().size(), 3u);
}

TEST_F(AccountEditorTest, NewUserTakesTheGroupsRulesAndIsStored) {
  UserRecord draft = NewUserDraft(*FindGroup(4));
  EXPECT_EQ(draft.name, "Пользователь 1");
  EXPECT_EQ(draft.schedule, FindGroup(4)->schedule);
  EXPECT_EQ(draft.rules.maxDocumentMb, 3);
  EXPECT_TRUE(draft.rules.dailyReport);
  draft.login = "Ivan";
  draft.emails = "ivan@example.ru";
  draft.denyFilter = "1; 0; 1, ads, 0;";
  UserRecord* ivan = nullptr;
  ASSERT_TRUE(ApplyNewUser(draft, &ivan).ok);
  EXPECT_EQ(ivan->login, "ivan");
  EXPECT_EQ(ivan->group, FindGroup(4));
  EXPECT_FALSE(DiffersFromGroup(*ivan));
  EXPECT_EQ(Stored("Users", "ivan"), FormatUserRecord(*ivan));
  EXPECT_EQ(Stored("Emails", "ivan"), "ivan@example.ru");
  EXPECT_EQ(Stored("Filters", "ivan"), "1; 0; 1, ads, 0;");
  EXPECT_EQ(NewUserDraft(*FindGroup(0)).name, "Пользователь 2");
}

TEST_F(AccountEditorTest, DeletedUsersLoginBringsBackItsRecord) {
  UserRecord* ivan = AddUser("ivan", 4);
  ivan->monthCounters.incoming = 12345;
  ivan->ticket.open = true;
  ASSERT_TRUE(DeleteUser(*ivan).ok);
  EXPECT_TRUE(ivan->deleted);
  EXPECT_EQ(Stored("Users", "ivan"), "<absent>");
  EXPECT_EQ(Stored("Filters", "ivan"), "<absent>");
  EXPECT_EQ(Stored("FiltersW", "ivan"), "<absent>");
  EXPECT_EQ(FindUser("ivan"), ivan);  // still in the table for the statistics

  UserRecord* again = AddUser("IVAN", 0);
  EXPECT_EQ(again, ivan);
  EXPECT_FALSE(again->deleted);
  EXPECT_EQ(again->groupNumber, 0u);
  EXPECT_EQ(again->monthCounters.incoming, 12345);
  EXPECT_TRUE(again->ticket.open);
  EXPECT_EQ(Users().size(), 1u);

  UserRecord nameless;
  EXPECT_FALSE(DeleteUser(nameless).ok);
}

TEST_F(AccountEditorTest, ApplyingGroupRulesTouchesOnlyItsStoredUsers) {
  UserRecord* a = AddUser("a", 4);
  UserRecord* b = AddUser("b", 4);
  UserRecord* c = AddUser("c", 0);
  DeleteUser(*b);
  GroupRecord edited = *FindGroup(4);
  edited.rules.monthMb = 777;
  ASSERT_TRUE(SaveGroup(*FindGroup(4), edited).ok);
  EXPECT_TRUE(DiffersFromGroup(*a));  // saving a group changes no user
  ApplyGroupRulesToUsers(*FindGroup(4));
  EXPECT_EQ(a->rules.monthMb, 777);
  EXPECT_EQ(b->rules.monthMb, 0);
  EXPECT_EQ(c->rules.monthMb, 0);
  EXPECT_EQ(Stored("Users", "a"), FormatUserRecord(*a));
  EXPECT_EQ(Stored("Users", "b"), "<absent>");

  c->rules.speedNormal = 1;
  ApplyGroupRulesToUser(*c);
  EXPECT_FALSE(DiffersFromGroup(*c));
  EXPECT_EQ(Stored("Users", "c"), FormatUserRecord(*c));
  EXPECT_EQ(ApplyRulesToGroupUsersQuestion().text, Str(1160));
  EXPECT_EQ(ApplyRulesToUserQuestion().text, Str(1161));
}

TEST_F(AccountEditorTest, MovingAUserKeepsItsRules) {
  UserRecord* a = AddUser("a", 0);
  EXPECT_EQ(MoveUserQuestion(*FindGroup(4)).text, "Переместить пользователя в группу \"Four\"?");
  MoveUserToGroup(*a, *FindGroup(4));
  EXPECT_EQ(a->group, FindGroup(4));
  EXPECT_EQ(a->rules.maxDocumentMb, 0);
  EXPECT_TRUE(DiffersFromGroup(*a));
  EXPECT_EQ(std::string(RecordField(Stored("Users", "a"), 13)), "4");
}

TEST_F(AccountEditorTest, SavingAUserKeepsIdentityAndCounters) {
  UserRecord* a = AddUser("a", 4);
  a->dayCounters.outgoing = 99;
  a->ticket.open = true;
  a->activeAddresses = {0x0A000001};
  a->speedHistory[7] = 1234;
  UserRecord edited = *a;
  edited.login = "changed";
  edited.byAddress = true;
  edited.groupNumber = 0;
  edited.group = FindGroup(0);
  edited.name = "Новое имя";
  edited.rules.dayMb = 5;
  static_cast<UserRuntimeState&>(edited) = UserRuntimeState{};
  ASSERT_TRUE(SaveUser(*a, edited).ok);
  EXPECT_EQ(a->login, "a");
  EXPECT_FALSE(a->byAddress);
  EXPECT_EQ(a->groupNumber, 4u);
  EXPECT_EQ(a->group, FindGroup(4));
  EXPECT_EQ(a->name, "Новое имя");
  EXPECT_EQ(a->rules.dayMb, 5);
  EXPECT_EQ(a->dayCounters.outgoing, 99);
  EXPECT_TRUE(a->ticket.open);
  EXPECT_EQ(a->activeAddresses, std::vector<Ipv4>{0x0A000001});
  EXPECT_EQ(a->speedHistory[7], 1234);
  EXPECT_EQ(Stored("Users", "a"), FormatUserRecord(*a));
  edited.reportEmail = "a@x; b@y";
  EXPECT_EQ(SaveUser(*a, edited).message, Str(1170));
}

TEST_F(AccountEditorTest, GroupDeletionRefusalsAndSuccess) {
  struct Case {
    std::uint32_t number;
    int message;
  } refusals[] = {{0, 1180}, {4, 1181}};
  UserRecord* a = AddUser("a", 4);
  for (const Case& c : refusals) {
    EditOutcome check = CheckGroupDeletion(*FindGroup(c.number));
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.caption, Str(18));
    EXPECT_EQ(check.message, Str(c.message));
    EXPECT_FALSE(DeleteGroup(c.number));
  }
  DeleteUser(*a);
  EditOutcome check = CheckGroupDeletion(*FindGroup(4));
  EXPECT_TRUE(check.ok);
  EXPECT_EQ(check.message, Str(1182));
  ASSERT_TRUE(DeleteGroup(4));
  EXPECT_EQ(FindGroup(4), nullptr);
  EXPECT_EQ(a->group, FindGroup(0));  // never left pointing at the freed group
  for (const char* section : {"Groups", "Filters", "FiltersW", "UsersAddr"})
    EXPECT_EQ(Stored(section, section[0] == 'G' ? "00000004" : "g00000004"), "<absent>") << section;
  EXPECT_FALSE(DeleteGroup(4));
}

}  // namespace
}  // namespace brindlex
