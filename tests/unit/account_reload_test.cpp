#include "core/account_reload.h"

#include <gtest/gtest.h>

#include "core/subscriptions.h"
#include "tests/unit/account_test_env.h"

namespace brindlex {
namespace {

class AccountReloadTest : public testing::AccountTest {
 protected:
  void SetUp() override {
    AccountTest::SetUp();
    LoadFrom(
        "[Groups]\r\n00000000=Default\r\n00000002=Two; ; 5\r\n00000003=Three\r\n"
        "[Users]\r\nivan=Ivan; *; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 2\r\npetr=Petr\r\n"
        "olga=Olga; ; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 3\r\n"
        "[UsersAddr]\r\ng00000002=10.0.0.1-10.0.0.9\r\n"
        "[Tickets]\r\nivan=1; 45000; 45000\r\n");
    ReadAllSubscriptions(LoadIniFile(SettingsPath()));
  }
  // Rewrites the settings file and applies it as SIGHUP does.
  bool Reload(const std::string& text) {
    WriteText(SettingsPath(), text);
    IniDocument document = LoadIniFile(SettingsPath());
    AccountSource source{&document, &document};
    ReloadAccounts(source);
    if (source.settingsChanged) SaveIniFile(SettingsPath(), document);
    return source.settingsChanged;
  }
};

TEST_F(AccountReloadTest, UsersAreAddedChangedAndRemovedKeepingTheirRecords) {
  UserRecord* ivan = FindUser("ivan");
  UserRecord* petr = FindUser("petr");
  ivan->dayCounters.incoming = 5000;
  ivan->activeAddresses.push_back(0x0A000001);
  ivan->ticket.used.incoming = 77;  // charged since the file was written
  petr->monthCounters.outgoing = 300;

  Reload(
      "[Groups]\r\n00000000=Default\r\n00000002=Two; ; 5\r\n00000003=Three\r\n"
      "[Users]\r\nivan=Ivan the second; *; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 2\r\n"
      "olga=Olga; ; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 3\r\nnina=Nina\r\n"
      "[Filters]\r\nnina=1; 0; 1, ads, 0;\r\n[Emails]\r\nnina=nina@example.ru\r\n"
      "[Tickets]\r\nivan=1; 45000; 45000\r\nnina=2; 45000; 45000; 0; 100\r\n");

  EXPECT_EQ(FindUser("ivan"), ivan) << "a record stays where the sessions point at it";
  EXPECT_EQ(ivan->name, "Ivan the second");
  EXPECT_EQ(ivan->dayCounters.incoming, 5000);
  EXPECT_EQ(ivan->activeAddresses, std::vector<Ipv4>{0x0A000001});
  EXPECT_EQ(ivan->ticket.used.incoming, 77) << "the open subscription stays as charged";
  EXPECT_EQ(FindUser("petr"), petr);
  EXPECT_TRUE(petr->deleted);
  EXPECT_EQ(FindActiveUser("petr"), nullptr);
  UserRecord* nina = FindActiveUser("nina");
  ASSERT_NE(nina, nullptr);
  EXPECT_EQ(nina->denyFilter, "1; 0; 1, ads, 0;");
  EXPECT_EQ(nina->emails, "nina@example.ru");
  EXPECT_EQ(nina->group, FindGroup(0));
  EXPECT_TRUE(nina->ticket.open);
  EXPECT_EQ(nina->ticket.limit.incoming, 100);

  // Back in the file, petr takes his record again with what it counted.
  Reload("[Groups]\r\n00000000=Default\r\n[Users]\r\npetr=Petr again\r\n");
  EXPECT_EQ(FindActiveUser("petr"), petr);
  EXPECT_EQ(petr->name, "Petr again");
  EXPECT_EQ(petr->monthCounters.outgoing, 300);
  EXPECT_TRUE(FindUser("ivan")->deleted);
  EXPECT_TRUE(FindUser("nina")->deleted);
}

TEST_F(AccountReloadTest, GroupsFollowTheFileAndNoUserPointsAtARemovedOne) {
  GroupRecord* two = FindGroup(2);
  GroupRecord* defaultGroup = FindGroup(0);
  two->speedHistory[0] = 42;
  // petr, deleted, still points at group 3.
  FindUser("petr")->groupNumber = 3;
  ResolveUserGroup(*FindUser("petr"));
  FindUser("petr")->deleted = true;

  Reload(
      "[Groups]\r\n00000002=Two renamed; ; 5\r\n00000004=Four\r\n"
      "[Users]\r\nivan=Ivan; *; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 2\r\n"
      "olga=Olga; ; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 3\r\n");

  EXPECT_EQ(FindGroup(2), two);
  EXPECT_EQ(two->name, "Two renamed");
  EXPECT_EQ(two->speedHistory[0], 42) << "what only the console keeps stays";
  EXPECT_EQ(two->clientAddresses, "") << "a list taken out of the file no longer restricts";
  EXPECT_EQ(FindGroup(3), nullptr);
  ASSERT_NE(FindGroup(4), nullptr);
  EXPECT_EQ(FindGroup(4)->name, "Four");
  EXPECT_EQ(FindUser("ivan")->group, two);
  EXPECT_EQ(FindUser("olga")->group, defaultGroup) << "the user of a removed group goes to Default";
  EXPECT_EQ(FindUser("petr")->group, defaultGroup);
  EXPECT_EQ(FindUser("petr")->groupNumber, 0u);
  // Without group 0 the file gets "Default" back, as at start-up.
  EXPECT_EQ(FindGroup(0), defaultGroup);
  EXPECT_EQ(*defaultGroup, MakeDefaultGroup());
  EXPECT_EQ(Stored("Groups", "00000000"), FormatGroupRecord(MakeDefaultGroup()));
}

TEST_F(AccountReloadTest, GlobalFiltersAreReplacedAndOldListsConverted) {
  EXPECT_FALSE(Reload("[Groups]\r\n00000000=Default\r\n[FiltersW]\r\nGlobal=1; 0; 1, good, 0;\r\n"));
  EXPECT_EQ(GlobalFilters().allowFilter, "1; 0; 1, good, 0;");
  EXPECT_EQ(GlobalFilters().denyFilter, "");

  EXPECT_TRUE(Reload("[System]\r\nFilter=bad\r\n[Groups]\r\n00000000=Default\r\n"));
  EXPECT_EQ(GlobalFilters().allowFilter, "");
  EXPECT_NE(GlobalFilters().denyFilter.find("bad"), std::string::npos) << GlobalFilters().denyFilter;
  EXPECT_EQ(Stored("System", "Filter"), "<absent>");
  EXPECT_EQ(Stored("Filters", "Global"), GlobalFilters().denyFilter);
}

}  // namespace
}  // namespace brindlex
