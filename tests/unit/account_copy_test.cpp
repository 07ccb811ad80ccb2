#include "core/account_copy.h"

#include <gtest/gtest.h>

#include "core/account_editor.h"
#include "tests/unit/account_test_env.h"

namespace brindlex {
namespace {

class AccountCopyTest : public testing::AccountTest {
 protected:
  void SetUp() override {
    AccountTest::SetUp();
    LoadFrom(
        "[System]\r\nHttpPort=3128\r\n[Groups]\r\n00000000=Default\r\n00000002=Two; ; 5\r\n"
        "[Users]\r\nivan=Ivan; *; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 2\r\npetr=Petr\r\ngone=Gone\r\n"
        "[UsersAddr]\r\ng00000002=10.0.0.1-10.0.0.9\r\nivan=10.1.0.1-10.1.0.1\r\n"
        "[Emails]\r\nivan=ivan@example.ru\r\n[Filters]\r\nivan=1; 0; 1, ads, 0;\r\n"
        "[Tickets]\r\nivan=1; 45000; 45000\r\n");
    DeleteUser(*FindUser("gone"));
  }
};

TEST_F(AccountCopyTest, SaveWritesStoredAccountsOnly) {
  ASSERT_TRUE(SaveAccountsCopy(Path("copy.ini")));
  IniDocument copy = LoadIniFile(Path("copy.ini"));
  EXPECT_EQ(*FindValue(copy, "Users", "ivan"), FormatUserRecord(*FindUser("ivan")));
  EXPECT_EQ(*FindValue(copy, "Filters", "ivan"), "1; 0; 1, ads, 0;");
  EXPECT_EQ(*FindValue(copy, "Emails", "ivan"), "ivan@example.ru");
  EXPECT_EQ(*FindValue(copy, "UsersAddr", "ivan"), "10.1.0.1-10.1.0.1");
  EXPECT_EQ(*FindValue(copy, "Groups", "00000002"), FormatGroupRecord(*FindGroup(2)));
  EXPECT_EQ(*FindValue(copy, "UsersAddr", "g00000002"), "10.0.0.1-10.0.0.9");
  EXPECT_EQ(FindValue(copy, "Users", "gone"), nullptr);
  EXPECT_EQ(FindSection(copy, "System"), nullptr);
  EXPECT_EQ(FindSection(copy, "Tickets"), nullptr);
}

TEST_F(AccountCopyTest, LoadRereadsExistingRecordsInPlace) {
  ASSERT_TRUE(SaveAccountsCopy(Path("copy.ini")));
  const std::string settingsBefore = ReadText(SettingsPath());
  UserRecord* ivan = FindUser("ivan");
  GroupRecord* two = FindGroup(2);
  const UserRecord ivanSaved = *ivan;
  const GroupRecord twoSaved = *two;
  ivan->name = "Changed";
  ivan->denyFilter.clear();
  two->clientAddresses.clear();
  two->rules.maxDocumentMb = 1;

  IniDocument copy = LoadIniFile(Path("copy.ini"));
  RemoveKey(copy, "Users", "petr");                 // a user the copy lacks
  SetValue(copy, "Users", "stranger", "Stranger");  // a user only the copy has
  SetValue(copy, "Users", "gone", "Gone again");    // deleted users are not re-read
  SaveIniFile(Path("copy.ini"), copy);
  FindUser("petr")->name = "Petr kept";

  LoadAccountsCopy(Path("copy.ini"));
  EXPECT_EQ(FindUser("ivan"), ivan);
  EXPECT_EQ(*ivan, ivanSaved);
  EXPECT_EQ(*two, twoSaved);
  EXPECT_EQ(FindUser("petr")->name, "Petr kept");
  EXPECT_EQ(FindUser("stranger"), nullptr);
  EXPECT_TRUE(FindUser("gone")->deleted);
  EXPECT_EQ(ReadText(SettingsPath()), settingsBefore);
}

TEST_F(AccountCopyTest, CopyWithoutGroupAddressListsKeepsThem) {
  WriteText(Path("old.ini"), "[Groups]\r\n00000002=Two renamed; ; 5\r\n");
  LoadAccountsCopy(Path("old.ini"));
  EXPECT_EQ(FindGroup(2)->name, "Two renamed");
  EXPECT_EQ(FindGroup(2)->clientAddresses, "10.0.0.1-10.0.0.9");
}

}  // namespace
}  // namespace brindlex
