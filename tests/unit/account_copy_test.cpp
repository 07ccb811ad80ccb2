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

TEST_F(AccountCopyTest, LoadWritesTheCopysRecordsToTheSettingsFileOnly) {
  ASSERT_TRUE(SaveAccountsCopy(Path("copy.ini")));
  UserRecord* ivan = FindUser("ivan");
  GroupRecord* two = FindGroup(2);
  const std::string ivanRecord = FormatUserRecord(*ivan);
  const std::string twoRecord = FormatGroupRecord(*two);
  const std::string petrInFile = *FindValue(LoadIniFile(SettingsPath()), "Users", "petr");
  // The tables drift from the copy; the copy's values are what the file gets.
  ivan->name = "Changed";
  ivan->denyFilter.clear();
  two->rules.maxDocumentMb = 1;

  IniDocument copy = LoadIniFile(Path("copy.ini"));
  RemoveKey(copy, "Users", "petr");                 // a user the copy lacks
  SetValue(copy, "Users", "stranger", "Stranger");  // a user only the copy has
  SetValue(copy, "Users", "gone", "Gone again");    // deleted users are not read
  SaveIniFile(Path("copy.ini"), copy);
  FindUser("petr")->name = "Petr kept";

  ASSERT_EQ(StoreAccountsCopy(Path("copy.ini")), CopyLoad::kWritten);
  const IniDocument settings = LoadIniFile(SettingsPath());
  EXPECT_EQ(*FindValue(settings, "Users", "ivan"), ivanRecord);
  EXPECT_EQ(*FindValue(settings, "Filters", "ivan"), "1; 0; 1, ads, 0;");
  EXPECT_EQ(*FindValue(settings, "Groups", "00000002"), twoRecord);
  EXPECT_EQ(*FindValue(settings, "Users", "petr"), petrInFile) << "a user the copy lacks keeps his record";
  EXPECT_EQ(FindValue(settings, "Users", "stranger"), nullptr);
  EXPECT_EQ(FindValue(settings, "Users", "gone"), nullptr);
  EXPECT_EQ(*FindValue(settings, "System", "HttpPort"), "3128");
  // The tables wait for the reload that puts the file in force.
  EXPECT_EQ(ivan->name, "Changed");
  EXPECT_EQ(FindUser("petr")->name, "Petr kept");
}

TEST_F(AccountCopyTest, CopyWithoutGroupAddressListsKeepsThem) {
  WriteText(Path("old.ini"), "[Groups]\r\n00000002=Two renamed; ; 5\r\n");
  ASSERT_EQ(StoreAccountsCopy(Path("old.ini")), CopyLoad::kWritten);
  GroupRecord stored;
  const IniDocument settings = LoadIniFile(SettingsPath());
  ParseGroupRecord(*FindValue(settings, "Groups", "00000002"), stored);
  EXPECT_EQ(stored.name, "Two renamed");
  EXPECT_EQ(*FindValue(settings, "UsersAddr", "g00000002"), "10.0.0.1-10.0.0.9");
}

TEST_F(AccountCopyTest, ACopyThatCannotBeLoadedWritesNothing) {
  const std::string before = ReadText(SettingsPath());
  WriteText(Path("strangers.ini"), "[Users]\r\nstranger=Stranger\r\n[Groups]\r\n00000009=Nine\r\n");
  EXPECT_EQ(StoreAccountsCopy(Path("strangers.ini")), CopyLoad::kNothingToLoad);
  WriteText(Path("deleted.ini"), "[Users]\r\ngone=Gone again\r\n");
  EXPECT_EQ(StoreAccountsCopy(Path("deleted.ini")), CopyLoad::kNothingToLoad);
  EXPECT_EQ(StoreAccountsCopy(Path("missing.ini")), CopyLoad::kUnreadable);
  EXPECT_EQ(ReadText(SettingsPath()), before);
}

}  // namespace
}  // namespace brindlex
