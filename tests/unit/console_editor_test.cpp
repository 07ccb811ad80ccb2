// The settings pages of the configuration editor over the in-process engine:
// loading, the change mask, apply with its checks, and the text lists.
#include <filesystem>
#include <gtest/gtest.h>

#include "console/editor_state.h"
#include "console/text_list.h"
#include "core/config_check.h"
#include "core/program_folder.h"
#include "core/strings.h"
#include "net/listener.h"
#include "tests/unit/console_editor_env.h"

namespace brindlex {
namespace {

class SettingsPages : public testing::ConsoleEditorTest {
 protected:
  void SetUp() override {
    ConsoleEditorTest::SetUp();
    Start(
        "[System]\r\nEnableHTTP=1\r\nHttpPort=8080\r\nEnableFtp=0\r\nFtpPort=21\r\nCachSizeMax=10\r\n"
        "InInterface=10.0.0.1; 10.0.0.2; \r\n[Groups]\r\n00000000=Default\r\n");
  }
  SettingsPageEditor& Page() { return editor_.Settings(); }
};

TEST_F(SettingsPages, LoadShowsTheValuesInForce) {
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageHttp}));
  EXPECT_EQ(editor_.Header(), Str(1104));
  EXPECT_TRUE(Page().Checked("CbEnableHTTP"));
  EXPECT_EQ(Page().Text("EdHttpPort"), "8080");
  EXPECT_EQ(Page().Text("EdCascadeIP"), "") << "an unset parent address shows empty";
  EXPECT_FALSE(editor_.Mask().Dirty());
}

TEST_F(SettingsPages, TypingWhileThePageLoadsDoesNotMarkItChanged) {
  editor_.Select({NodeKind::kPage, kPageHttp}, [&] {
    Page().Edit("EdHttpPort", "3128");
    EXPECT_TRUE(editor_.Mask().Loading()) << "the edit set no bit";
  });
  EXPECT_EQ(editor_.Mask().Value(), 0);
  EXPECT_FALSE(editor_.LeaveQuestion().has_value());
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_TRUE(reopened_.empty()) << "nothing was stored";
  EXPECT_EQ(Stored("System", "HttpPort"), "8080");

  Page().Edit("EdHttpPort", "3129");
  EXPECT_EQ(editor_.Mask().Value(), kChangedHttp) << "the same edit after loading marks the page";
  ASSERT_TRUE(editor_.LeaveQuestion().has_value());
  EXPECT_EQ(editor_.LeaveQuestion()->text, "Сохранить изменения конфигурации?");
}

TEST_F(SettingsPages, InvalidFtpPortStoresNothingOfThePageAndLeavesItDirty) {
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageFtp}));
  const std::string before = ReadText(SettingsPath());
  Page().SetChecked("CbEnableFtp", true);
  Page().Edit("EdFtpPort", "21x");
  EditorApplyResult failed = editor_.Apply();
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.box.caption, "Ошибка преобразования");
  EXPECT_EQ(failed.box.text, "\"21x\"- некорректное число");
  EXPECT_EQ(failed.focusControl, "EdFtpPort");
  EXPECT_EQ(ReadText(SettingsPath()), before) << "the check box before the port is not stored either";
  EXPECT_FALSE(Settings()->EnableFtp);
  EXPECT_EQ(Settings()->FtpPort, 21);
  EXPECT_TRUE(reopened_.empty()) << "a refused apply puts nothing in force";
  EXPECT_EQ(editor_.Mask().Value(), kChangedFtp);
  EXPECT_EQ(Page().Text("EdFtpPort"), "21x");
  EXPECT_TRUE(Page().Checked("CbEnableFtp")) << "the edits stay for the administrator to mend";

  Page().Edit("EdFtpPort", " 2121");
  EXPECT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(Stored("System", "FtpPort"), "2121");
  EXPECT_EQ(Stored("System", "EnableFtp"), "1");
  EXPECT_EQ(Page().Text("EdFtpPort"), "2121");
  EXPECT_EQ(reopened_.back(), kReopenFtp);
  EXPECT_EQ(editor_.Mask().Value(), 0);
}

TEST_F(SettingsPages, ChangedHttpPortHandsItsBitToTheListenerAndCacheSizeNothing) {
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageHttp}));
  Page().Edit("EdHttpPort", "3128");
  EditorApplyResult http = editor_.Apply();
  ASSERT_TRUE(http.ok);
  EXPECT_EQ(http.appliedMask, kChangedHttp);
  EXPECT_EQ(reopened_, std::vector<int>{kReopenHttp});
  EXPECT_EQ(Settings()->HttpPort, "3128");

  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageCache}));
  Page().Edit("EdCachSizeMax", "25.50");
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(reopened_, (std::vector<int>{kReopenHttp, 0}));
  EXPECT_DOUBLE_EQ(Settings()->CachSizeMax, 25.5);
  EXPECT_EQ(Page().Text("EdCachSizeMax"), "25.5");
}

TEST_F(SettingsPages, AnHttpPortTheListenerWouldReadOtherwiseIsRefused) {
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageHttp}));
  for (const char* bad : {"80a", "0", "", "70000", "8080; x"}) {
    Page().Edit("EdHttpPort", bad);
    EditorApplyResult refused = editor_.Apply();
    EXPECT_FALSE(refused.ok) << bad;
    EXPECT_EQ(refused.focusControl, "EdHttpPort") << bad;
    EXPECT_EQ(Settings()->HttpPort, "8080") << bad;
  }
  Page().Edit("EdHttpPort", "3128; 8081");
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(HttpPorts(Settings()->HttpPort), (std::vector<int>{3128, 8081}));
}

TEST_F(SettingsPages, WhatTheConfigurationCheckReportsIsRefusedInItsWords) {
  const std::string before = ReadText(SettingsPath());
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageInterfaces}));
  Page().AddToList("LbInInterface", "notanaddress");
  EditorApplyResult refused = editor_.Apply();
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.focusControl, "LbInInterface");
  const std::vector<ConfigProblem> reported =
      CheckConfiguration("[System]\r\nInInterface=10.0.0.1; 10.0.0.2; notanaddress;\r\n");
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(refused.box.text, reported[0].message);
  EXPECT_NE(refused.box.text.find("'notanaddress'"), std::string::npos) << refused.box.text;
  EXPECT_EQ(Settings()->InInterface.size(), 2u);
  editor_.Cancel();

  // Keys of their own rules, each refused with what the check says of it;
  // the first refusal stops the apply before anything is stored.
  struct Case {
    int page;
    const char* control;
    const char* text;
  };
  for (const Case& bad :
       {Case{kPageHttp, "EdHeadTimeout", "-5"}, Case{kPageMore, "EdAdminPort", "70000"},
        Case{kPageMore, "EdMetricsAddress", "localhost:9469"}, Case{kPageCache, "EdCachSizeMax", "2000000000"}}) {
    ASSERT_TRUE(editor_.Select({NodeKind::kPage, static_cast<std::uint32_t>(bad.page)}));
    Page().Edit(bad.control, bad.text);
    refused = editor_.Apply();
    EXPECT_FALSE(refused.ok) << bad.control;
    EXPECT_EQ(refused.focusControl, bad.control);
    const std::vector<ConfigProblem> words =
        CheckConfiguration("[System]\r\n" + KeyFromControlName(bad.control) + "=" + std::string(bad.text) + "\r\n");
    ASSERT_EQ(words.size(), 1u) << bad.control;
    EXPECT_EQ(refused.box.text, words[0].message);
    editor_.Cancel();
  }
  EXPECT_EQ(ReadText(SettingsPath()), before);
  EXPECT_TRUE(reopened_.empty());

  // The same keys with values the check takes are stored and in force.
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageMore}));
  Page().Edit("EdMetricsAddress", "127.0.0.1:9469");
  Page().Edit("EdMaxConnectionsPerAddress", "40");
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(Stored("System", "MetricsAddress"), "127.0.0.1:9469");
  EXPECT_EQ(Settings()->MaxConnectionsPerAddress, 40);
}

TEST(SettingsTable, EveryKeyHasItsControlOnOnePageOnly) {
  for (const SettingInfo& setting : SystemSettingTable()) {
    int found = 0;
    for (int page = 0; page < kConfigPageCount; ++page)
      for (const PageControl& control : ConfigPageAt(page).controls)
        if (!control.confirms && KeyFromControlName(control.name) == setting.key) ++found;
    EXPECT_EQ(found, 1) << setting.key;
  }
  // And every control names a key of the table (its caption, a text).
  for (int page = 0; page < kConfigPageCount; ++page)
    for (const PageControl& control : ConfigPageAt(page).controls) {
      EXPECT_TRUE(control.confirms || FindSetting(KeyFromControlName(control.name))) << control.name;
      EXPECT_FALSE(ControlCaption(control).empty()) << control.name;
    }
}

TEST_F(SettingsPages, OnlyChangedControlsAreStored) {
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageHttp}));
  Page().SetChecked("CbEnableFtpHttp", false);
  ASSERT_TRUE(editor_.Apply().ok) << "the empty parent address is not checked: it was not edited";
  EXPECT_EQ(Stored("System", "EnableFtpHttp"), "0");
  EXPECT_EQ(Stored("System", "CascadeIP"), "<absent>");
}

TEST_F(SettingsPages, AnInterfaceWithATrailingBlankSelectsTheExistingEntry) {
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageInterfaces}));
  Page().SelectInList("LbInInterface", 0);
  Page().AddToList("LbInInterface", "10.0.0.2 ");
  TextList list = Page().List("LbInInterface");
  EXPECT_EQ(list.items, (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(list.selected, 1);
  EXPECT_FALSE(editor_.Mask().Dirty());

  Page().AddToList("LbInInterface", " 10.0.0.3");
  list = Page().List("LbInInterface");
  EXPECT_EQ(list.items.back(), "10.0.0.3");
  EXPECT_EQ(list.selected, 2);
  EXPECT_EQ(editor_.Mask().Value(), kChangedAny);
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(Stored("System", "InInterface"), "10.0.0.1; 10.0.0.2; 10.0.0.3;");
  EXPECT_EQ(Settings()->InInterface.size(), 3u);
}

TEST(TextLists, EditOntoAnotherEntryRemovesTheEditedOneAndDeleteKeepsThePlace) {
  TextList list{{"a", "b", "c"}, 0};
  EXPECT_TRUE(EditListEntry(list, " c "));
  EXPECT_EQ(list.items, (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(list.selected, 1);
  EXPECT_FALSE(EditListEntry(list, "  ")) << "an empty answer changes nothing";
  EXPECT_TRUE(EditListEntry(list, "d"));
  EXPECT_EQ(list.items, (std::vector<std::string>{"b", "d"}));
  EXPECT_TRUE(AddListEntry(list, "B")) << "letter case counts: B is not b";
  EXPECT_EQ(list.selected, 2);
  EXPECT_TRUE(DeleteListEntry(list));
  EXPECT_EQ(list.selected, 1) << "the last entry went: the new last one is selected";
  list.selected = 0;
  EXPECT_TRUE(DeleteListEntry(list));
  EXPECT_EQ(list.items, std::vector<std::string>{"d"});
  EXPECT_EQ(list.selected, 0) << "the entry now at the deleted one's place";
}

TEST_F(SettingsPages, CancelDropsTheEditsAndLoadsTheValuesInForce) {
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageFtp}));
  Page().Edit("EdFtpPort", "2121");
  editor_.Cancel();
  EXPECT_EQ(Page().Text("EdFtpPort"), "21");
  EXPECT_EQ(editor_.Mask().Value(), 0);
  EXPECT_TRUE(reopened_.empty());
}

TEST_F(SettingsPages, LeavingWithAFailingApplyIsRefused) {
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageFtp}));
  Page().Edit("EdFtpPort", "port");
  EditorApplyResult failure;
  EXPECT_FALSE(editor_.Leave(true, &failure));
  EXPECT_EQ(failure.focusControl, "EdFtpPort");
  EXPECT_EQ(editor_.Selected(), (EditorNode{NodeKind::kPage, kPageFtp}));
  EXPECT_TRUE(editor_.Leave(false));
  EXPECT_EQ(Page().Text("EdFtpPort"), "21");
}

TEST_F(SettingsPages, AdministratorPasswordNeedsItsConfirmation) {
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageMore}));
  Page().Edit("EdPasswordAdmin", "Secret");
  Page().Edit("EdPasswordConfirm", "secret");
  EditorApplyResult failed = editor_.Apply();
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.box.caption, Str(18));
  EXPECT_EQ(failed.box.text, "Пароль не подтвержден!");
  EXPECT_EQ(Page().Text("EdPasswordAdmin"), "") << "the first edit is cleared";
  EXPECT_EQ(Stored("System", "PasswordAdmin"), "<absent>");

  Page().Edit("EdPasswordAdmin", "secret");
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(Settings()->PasswordAdmin, "secret");
  EXPECT_NE(Stored("System", "PasswordAdmin"), "secret") << "stored scrambled";
}

TEST_F(SettingsPages, ThePasswordGuardsTheConfigurationPage) {
  int asked = 0;
  auto answer = [&](std::string text) {
    return [&asked, text] {
      ++asked;
      return text;
    };
  };
  EXPECT_TRUE(ConfigPageUnlocked(engine_, answer("anything")));
  EXPECT_EQ(asked, 0) << "without a password nobody is asked";

  ChangeSettings([](SystemSettings& s) { s.PasswordAdmin = "Secret"; });
  EXPECT_FALSE(ConfigPageUnlocked(engine_, answer("secret")));
  EXPECT_FALSE(ConfigPageUnlocked(engine_, answer(""))) << "Отмена";
  EXPECT_TRUE(ConfigPageUnlocked(engine_, answer("Secret")));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(AdminPasswordDialog().prompt, "Введите пароль администратора");
}

TEST_F(SettingsPages, StoreLogsAndBackgroundMarkTheirOwnBits) {
  const std::string savedFolder = ProgramFolder();
  SetProgramFolder(dir_);
  std::filesystem::create_directory(LoggingFolder());
  const std::string oldLog = LoggingFolder() + "/01-01-20-Brindlex.log";
  WriteText(oldLog, "x");
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageMore}));
  Page().Edit("EdBackground", "other.bmp");
  Page().Edit("EdStoreLogs", "30");
  EXPECT_EQ(editor_.Mask().Value(), kChangedBackground | kChangedLogKeeping);
  EditorApplyResult applied = editor_.Apply();
  ASSERT_TRUE(applied.ok);
  EXPECT_EQ(applied.appliedMask, kChangedBackground | kChangedLogKeeping);
  EXPECT_EQ(reopened_, std::vector<int>{0});
  EXPECT_EQ(Settings()->StoreLogs, 30);
  EXPECT_FALSE(std::filesystem::exists(oldLog)) << "logs older than the new StoreLogs go at once";
  SetProgramFolder(savedFolder);
}

}  // namespace
}  // namespace brindlex
