// The group and user pages of the configuration editor over the in-process
// engine: adding, deleting and moving, the schedule grid, and the copies.
#include <unistd.h>

#include <fstream>
#include <gtest/gtest.h>

#include "console/account_pages.h"
#include "core/arp_table.h"
#include "core/account_editor.h"
#include "core/strings.h"
#include "tests/unit/console_editor_env.h"

namespace brindlex {
namespace {

class AccountPages : public testing::ConsoleEditorTest {
 protected:
  void SetUp() override {
    ConsoleEditorTest::SetUp();
    Start(
        "[Groups]\r\n00000000=Default; ; 0; 0; 0; 0; 0; 0; 0; 1-24/1-24/1-24/1-24/1-24/1-24/1-24/\r\n"
        "00000004=Four; ; 3; 0; 0; 0; 0; 1; 0; 9-18/; 32; 0\r\n"
        "[Users]\r\nivan=Ivan; ivan; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 0\r\n");
  }
  AccountPageEditor& Page() { return editor_.Accounts(); }
  std::uint32_t IdOf(const std::string& login) {
    UsersSnapshot snapshot = engine_.Users();
    for (const ConsoleUser& user : snapshot.users)
      if (user.login == login && !user.deleted) return user.id;
    ADD_FAILURE() << "no user " << login;
    return 0;
  }
  // Adds a user under `group` through the page, as the administrator would.
  EditorApplyResult AddUser(std::uint32_t group, const std::string& login) {
    EXPECT_TRUE(editor_.AddUser(group));
    Page().User().login = login;
    Page().Edited();
    return editor_.Apply();
  }
};

TEST_F(AccountPages, DeletingGroupZeroIsRefusedEvenWithoutUsers) {
  ASSERT_TRUE(engine_.DeleteConfigUser(IdOf("ivan")));
  ConfigEditOutcome asked = Page().AskDeleteGroup(0);
  EXPECT_FALSE(asked.ok);
  EXPECT_EQ(asked.box.caption, Str(18));
  EXPECT_EQ(asked.box.text, Str(1180));
  EXPECT_FALSE(Page().DeleteGroup(0));
  EXPECT_NE(FindGroup(0), nullptr);
  EXPECT_NE(Stored("Groups", "00000000"), "<absent>");

  ConfigEditOutcome four = Page().AskDeleteGroup(4);
  EXPECT_TRUE(four.ok) << "a group without users may go, after the question";
  EXPECT_EQ(four.box.text, Str(1182));
  EXPECT_TRUE(Page().DeleteGroup(4));
  EXPECT_EQ(Stored("Groups", "00000004"), "<absent>");
}

TEST_F(AccountPages, ADeletedUsersLoginCanBeUsedAgain) {
  EditorApplyResult twice = AddUser(4, "IVAN");
  EXPECT_FALSE(twice.ok);
  EXPECT_EQ(twice.box.text, Str(1163));
  EXPECT_EQ(twice.focusControl, "EdLogin");
  editor_.Cancel();
  EXPECT_EQ(editor_.Selected(), (EditorNode{NodeKind::kGroup, 4})) << "the new node went";

  const std::uint32_t ivan = IdOf("ivan");
  ASSERT_TRUE(editor_.Select({NodeKind::kGroup, 4}));
  EXPECT_EQ(DeleteUserQuestion().text, "Совсем удалить пользователя?");
  ASSERT_TRUE(Page().DeleteUser(ivan));
  EXPECT_EQ(Stored("Users", "ivan"), "<absent>");

  EditorApplyResult again = AddUser(4, "ivan");
  ASSERT_TRUE(again.ok) << again.box.text;
  EXPECT_TRUE(again.appliedMask & kChangedUsersView);
  EXPECT_EQ(IdOf("ivan"), ivan) << "the deleted user's record is taken back";
  EXPECT_EQ(FindActiveUser("ivan")->groupNumber, 4u);
  EXPECT_EQ(editor_.Selected(), (EditorNode{NodeKind::kUser, ivan}));
  EXPECT_EQ(editor_.Header(), "Пользователь 'Пользователь 2' (ivan)");
}

TEST_F(AccountPages, NoToMovingAUserLeavesEverythingUnchanged) {
  const std::uint32_t ivan = IdOf("ivan");
  ASSERT_TRUE(editor_.Select({NodeKind::kUser, ivan}));
  const std::string fileBefore = ReadText(SettingsPath());
  std::optional<EditorQuestion> question = Page().AskMoveUser(4);
  ASSERT_TRUE(question.has_value());
  EXPECT_EQ(question->text, "Переместить пользователя в группу \"Four\"?");
  EXPECT_EQ(Page().AnswerMoveUser(4, false), 0u) << "the box goes back to the old group";
  EXPECT_EQ(ReadText(SettingsPath()), fileBefore);
  EXPECT_EQ(FindUser("ivan")->groupNumber, 0u);
  EXPECT_EQ(editor_.Mask().Value(), 0);

  EXPECT_EQ(Page().AnswerMoveUser(4, true), 4u);
  EXPECT_EQ(FindUser("ivan")->groupNumber, 4u);
  EXPECT_NE(ReadText(SettingsPath()), fileBefore);
}

TEST_F(AccountPages, LoadingACopyThatLacksAUserLeavesThatUserUnchanged) {
  ASSERT_TRUE(AddUser(0, "petr").ok);
  ASSERT_TRUE(editor_.SaveCopy(Path("copy.ini")));
  IniDocument copy = LoadIniFile(Path("copy.ini"));
  RemoveKey(copy, "Users", "petr");
  SetValue(copy, "Users", "ivan", "Ivan from copy; ivan; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 0");
  ASSERT_TRUE(SaveIniFile(Path("copy.ini"), copy));

  const std::uint32_t petr = IdOf("petr");
  ASSERT_TRUE(editor_.Select({NodeKind::kUser, petr}));
  const ConsoleUserDraft before = Page().User();
  const std::string petrStored = Stored("Users", "petr");
  EXPECT_TRUE(editor_.LoadCopy(Path("copy.ini")).ok);
  EXPECT_EQ(engine_.ConfigUser(IdOf("ivan"))->name, "Ivan from copy") << "the copy was read";
  ASSERT_TRUE(engine_.ConfigUser(petr).has_value()) << "a user the copy lacks is not deleted";
  EXPECT_EQ(*engine_.ConfigUser(petr), before);
  EXPECT_EQ(Page().User(), before);
  EXPECT_EQ(Stored("Users", "petr"), petrStored);
  EXPECT_EQ(reopened_.size(), 1u) << "put in force as any change of the file";
}

TEST_F(AccountPages, ALoadedCopyIsInTheFileSoTheNextApplyKeepsIt) {
  ASSERT_TRUE(editor_.SaveCopy(Path("copy.ini")));
  IniDocument copy = LoadIniFile(Path("copy.ini"));
  SetValue(copy, "Users", "ivan", "Ivan from copy; ivan; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 0");
  SetValue(copy, "Filters", "ivan", "casino");
  SetValue(copy, "Groups", "00000004", "Four from copy; ; 3; 0; 0; 0; 0; 1; 0; 9-18/; 32; 0");
  ASSERT_TRUE(SaveIniFile(Path("copy.ini"), copy));

  ASSERT_TRUE(editor_.LoadCopy(Path("copy.ini")).ok);
  EXPECT_EQ(Stored("Users", "ivan").substr(0, 15), "Ivan from copy;");
  EXPECT_EQ(Stored("Groups", "00000004").substr(0, 15), "Four from copy;");
  EXPECT_NE(Stored("Filters", "ivan").find("casino"), std::string::npos) << Stored("Filters", "ivan");

  // A settings page's apply reloads the whole file: the copy's values stay.
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageHttp}));
  editor_.Settings().Edit("EdCascadePort", "3128");
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(engine_.ConfigUser(IdOf("ivan"))->name, "Ivan from copy");
  EXPECT_NE(engine_.ConfigUser(IdOf("ivan"))->denyFilter.find("casino"), std::string::npos);
  ASSERT_TRUE(engine_.ConfigGroup(4).has_value());
  EXPECT_EQ(engine_.ConfigGroup(4)->name, "Four from copy");
}

TEST_F(AccountPages, ACopyThatCannotBeLoadedIsRefusedAndChangesNothing) {
  const std::string before = ReadText(SettingsPath());
  WriteText(Path("strangers.ini"), "[Users]\r\nboris=Boris; boris; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 0\r\n");
  WriteText(Path("empty.ini"), "");
  for (const char* copy : {"strangers.ini", "empty.ini"}) {
    const ConfigEditOutcome refused = editor_.LoadCopy(Path(copy));
    EXPECT_FALSE(refused.ok) << copy;
    EXPECT_EQ(refused.box.caption, Str(1158)) << copy;
    EXPECT_EQ(refused.box.text, Str(1361)) << copy;
  }
  const ConfigEditOutcome unread = editor_.LoadCopy(Path("missing.ini"));
  EXPECT_FALSE(unread.ok);
  EXPECT_EQ(unread.box.text, Str(1360));
  EXPECT_EQ(ReadText(SettingsPath()), before);
  EXPECT_TRUE(reopened_.empty());
  EXPECT_EQ(engine_.ConfigUser(IdOf("ivan"))->name, "Ivan");
}

TEST_F(AccountPages, NewGroupTakesDefaultAsTemplateAndCancelDropsIt) {
  editor_.AddGroup();
  EXPECT_EQ(Page().Group().name, "Группа 5");
  EXPECT_EQ(Page().Group().schedule, FindGroup(0)->schedule);
  EXPECT_TRUE(editor_.SelectedIsNew());
  EXPECT_EQ(editor_.Mask().Value(), kChangedAny) << "a new group starts changed";
  editor_.Cancel();
  EXPECT_EQ(FindGroup(5), nullptr);
  EXPECT_EQ(editor_.Selected(), (EditorNode{NodeKind::kPage, kPageUsers}));

  editor_.AddGroup();
  Page().Group().name = "Five";
  Page().Edited();
  EditorApplyResult applied = editor_.Apply();
  ASSERT_TRUE(applied.ok);
  EXPECT_EQ(applied.appliedMask, kChangedAny | kChangedUsersView);
  ASSERT_NE(FindGroup(5), nullptr);
  EXPECT_EQ(FindGroup(5)->name, "Five");
  EXPECT_EQ(editor_.Header(), "Редактируем группу 'Five'");
  EXPECT_FALSE(editor_.SelectedIsNew());
}

TEST_F(AccountPages, ScheduleGridPaintsSelectsAndGreysWhatTheGroupForbids) {
  ASSERT_TRUE(editor_.Select({NodeKind::kUser, IdOf("ivan")}));
  Page().MarkAllHours(false);
  EXPECT_EQ(Page().User().schedule, Schedule{});
  Page().PaintHour(0, 20, true);
  Page().PaintHour(0, 10, true);
  EXPECT_TRUE(ScheduleAllows(Page().User().schedule, 0, 20));
  EXPECT_EQ(editor_.Mask().Value(), kChangedAny);
  const Schedule four = FindGroup(4)->schedule;  // Monday 8:00-17:59 only
  EXPECT_TRUE(HourGreyed(Page().User().schedule, four, 0, 20));
  EXPECT_FALSE(HourGreyed(Page().User().schedule, four, 0, 10));
  EXPECT_FALSE(HourGreyed(Page().User().schedule, four, 0, 21)) << "an unmarked hour is never grey";
  Page().PaintHour(0, 20, false);
  EXPECT_FALSE(ScheduleAllows(Page().User().schedule, 0, 20));
  Page().MarkAllHours(true);
  EXPECT_EQ(Page().User().schedule, FullSchedule());
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(FindUser("ivan")->schedule, FullSchedule());
  EXPECT_EQ(ScheduleRowTitle(6), "Вс");
}

TEST_F(AccountPages, EmailAddressesNeedTheAtSign) {
  ASSERT_TRUE(editor_.Select({NodeKind::kUser, IdOf("ivan")}));
  ConfigBox refused = Page().AddEmail("ivan.example.ru");
  EXPECT_EQ(refused.caption, "Ошибка");
  EXPECT_EQ(refused.text, "Необходимо ввести E-mail адрес в формате user@mail_domain");
  EXPECT_TRUE(Page().User().emails.empty());
  EXPECT_EQ(editor_.Mask().Value(), 0);
  EXPECT_TRUE(Page().AddEmail(" ivan@example.ru ").text.empty());
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(Stored("Emails", "ivan"), "ivan@example.ru;");
}

TEST_F(AccountPages, GroupRulesReachItsUsers) {
  const std::uint32_t ivan = IdOf("ivan");
  ASSERT_TRUE(editor_.Select({NodeKind::kGroup, 0}));
  Page().Group().rules.monthMb = 77;
  Page().Edited();
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(FindUser("ivan")->rules.monthMb, 0) << "saving the group alone leaves its users";
  Page().ApplyRulesToGroupUsers();
  EXPECT_EQ(FindUser("ivan")->rules.monthMb, 77);

  ASSERT_TRUE(editor_.Select({NodeKind::kUser, ivan}));
  Page().User().rules.dayMb = 5;
  Page().Edited();
  EXPECT_TRUE(LimitsDifferingFromGroup(Page().User().rules, Page().GroupOfUser().rules)[3]);
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(FindUser("ivan")->rules.dayMb, 5);
  ASSERT_TRUE(Page().ApplyGroupRulesToThisUser().ok);
  EXPECT_EQ(FindUser("ivan")->rules.dayMb, 0);
  EXPECT_EQ(Page().User().rules.dayMb, 0) << "the page shows the group's values again";
}

TEST(ConfigTreeTest, GroupsWithTheirStoredUsersSortedByText) {
  UsersSnapshot accounts;
  accounts.groups = {{0, "Default"}, {3, "Accounting"}};
  ConsoleUser zoe, adam, gone;
  zoe.id = 0, zoe.groupNumber = 3, zoe.name = "Zoe";
  adam.id = 1, adam.groupNumber = 3, adam.login = "adam";
  gone.id = 2, gone.groupNumber = 3, gone.name = "Gone", gone.deleted = true;
  accounts.users = {zoe, adam, gone};
  std::vector<TreeItem> tree = ConfigTree(accounts);
  ASSERT_EQ(tree.size(), 15u);
  EXPECT_EQ(tree[0].text, "Пользователи");
  EXPECT_EQ(tree[14].text, "Дополнительно");
  ASSERT_EQ(tree[0].children.size(), 2u);
  const TreeItem& accounting = tree[0].children[0];
  EXPECT_EQ(accounting.text, "Accounting");
  ASSERT_EQ(accounting.children.size(), 2u);
  EXPECT_EQ(accounting.children[0].text, "adam") << "a user without a name shows its login; case aside";
  EXPECT_EQ(accounting.children[0].node, (EditorNode{NodeKind::kUser, 1}));
  EXPECT_EQ(accounting.children[1].text, "Zoe");
}

TEST_F(AccountPages, TheMacButtonWritesTheAddressUsersMacOrClearsThePassword) {
  char name[] = "/tmp/brindlex-arp-XXXXXX";
  ::close(::mkstemp(name));
  std::ofstream(name) << "IP address       HW type     Flags       HW address            Mask     Device\n"
                         "10.0.0.5         0x1         0x2         00:1a:2b:3c:4d:5e     *        eth0\n";
  SetArpTablePath(name);
  ASSERT_TRUE(editor_.AddUser(0));
  Page().User().byAddress = true;
  Page().User().login = "10.0.0.5";
  Page().User().password = "old";
  Page().FetchMacAddress();
  EXPECT_EQ(Page().User().password, "001A2B3C4D5E");
  EXPECT_TRUE(editor_.Mask().Dirty());
  // An address the system has not resolved, or a login that is no address.
  for (const char* login : {"10.0.0.6", "ivan", "10.0.0"}) {
    Page().User().login = login;
    Page().User().password = "old";
    Page().FetchMacAddress();
    EXPECT_EQ(Page().User().password, "") << login;
  }
  SetArpTablePath("");
  ::unlink(name);
}

}  // namespace
}  // namespace brindlex
