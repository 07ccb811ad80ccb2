// The editing dialogs and the list pages over the in-process engine: adding
// to a filter from the monitor or the statistics window, the global filter
// page with its import, the relay and port-mapping pages applied with their
// configuration page, the subscription window, and the checks of the
// additional restrictions and of the address range dialog.
#include <gtest/gtest.h>

#include "console/filter_dialog.h"
#include "console/filter_page_editor.h"
#include "console/port_map_page_editor.h"
#include "console/range_dialog.h"
#include "console/relay_page_editor.h"
#include "console/restrictions.h"
#include "console/ticket_window.h"
#include "core/clock.h"
#include "core/date_time.h"
#include "core/program_folder.h"
#include "core/strings.h"
#include "net/listener.h"
#include "tests/unit/console_editor_env.h"

namespace brindlex {
namespace {

constexpr std::int64_t kMb = 1024 * 1024;

class ConsoleDialogs : public testing::ConsoleEditorTest {
 protected:
  void SetUp() override {
    ConsoleEditorTest::SetUp();
    savedFolder_ = ProgramFolder();
    SetProgramFolder(Path(""));
    ASSERT_TRUE(EnsureFolder(LoggingFolder()));
    clock_.local = LocalSeconds(2024, 3, 5, 10, 20, 30);
    SetProgramClock(&clock_);
    LoadCounters(IniDocument{});
    Start(
        "[Groups]\r\n00000000=Default; ; 0; 0; 0; 0; 0; 0; 0; 1-24/1-24/1-24/1-24/1-24/1-24/1-24/\r\n"
        "00000004=Бухгалтерия; ; 0; 0; 0; 0; 0; 0; 0; 1-24/1-24/1-24/1-24/1-24/1-24/1-24/\r\n"
        "[Users]\r\nivan=Иван Петров; ; ; 0; 0; 0; 0; 0; 0; 0; /; 0; 0; 4; 0; 0; 0\r\n"
        "[Filters]\r\nGlobal=1; 0; 1, ads.example, 0;\r\n"
        "[FiltersW]\r\nGlobal=1; 0; 0, *.lan/*, 1;\r\n");
  }
  void TearDown() override {
    PublishMailRules({});
    LoadCounters(IniDocument{});
    SetProgramClock(nullptr);
    SetProgramFolder(savedFolder_);
    ConsoleEditorTest::TearDown();
  }
  std::uint32_t IvanId() {
    for (const ConsoleUser& user : engine_.Users().users)
      if (user.login == "ivan") return user.id;
    ADD_FAILURE() << "no ivan";
    return 0;
  }
  void MakePrepaid(bool prepaid) {
    ConsoleUserDraft draft = *engine_.ConfigUser(IvanId());
    draft.rules.prepaid = prepaid;
    ASSERT_TRUE(engine_.SaveConfigUser(draft, IvanId()).ok);
  }
  std::function<void(int)> Marker() {
    return [this](int bits) { editor_.MarkChanged(bits); };
  }

  std::string savedFolder_;
  ManualClock clock_;
};

// --- "Добавить в фильтр" ------------------------------------------------------

TEST_F(ConsoleDialogs, AdditionFromTheMonitorProposesTheUserAndOffersHisGroup) {
  FilterAdditionDialog dialog(engine_, AdditionFromMonitor({IvanId(), "http://ads.example/banner.gif"}));
  EXPECT_TRUE(dialog.Choice().userEnabled);
  EXPECT_TRUE(dialog.Choice().groupEnabled);
  EXPECT_EQ(dialog.Choice().userName, "Иван Петров");
  EXPECT_EQ(dialog.Choice().groupName, "Бухгалтерия");
  EXPECT_EQ(dialog.Scope(), FilterAdditionScope::kUser);
  EXPECT_EQ(dialog.kind, kFilterUrl);
  EXPECT_EQ(dialog.pattern, "http://ads.example/banner.gif");

  ASSERT_EQ(dialog.Accept(), FilterAdditionDialog::Ok::kAdded);
  // The user had no deny list: the entry starts one in force.
  EXPECT_EQ(Stored("Filters", "ivan"), "1; 0; 0, http://ads.example/banner.gif, 0;");
  EXPECT_EQ(FindOrCreateUser("ivan")->denyFilter, Stored("Filters", "ivan"));

  dialog.Choose(FilterAdditionScope::kGroup);
  dialog.pattern = "*.exe";
  dialog.kind = kFilterExtension;
  ASSERT_EQ(dialog.Accept(), FilterAdditionDialog::Ok::kAdded);
  EXPECT_EQ(Stored("Filters", "g00000004"), "1; 0; 3, *.exe, 0;");
  EXPECT_EQ(Stored("Filters", "ivan"), "1; 0; 0, http://ads.example/banner.gif, 0;");
}

TEST_F(ConsoleDialogs, AdditionForAGroupOffersOnlyTheGroupAndTheGlobalList) {
  StatisticsWindowSubject group{StatisticsSubject::kGroup, 4, {}, "Бухгалтерия"};
  FilterAdditionDialog dialog(engine_, AdditionFromStatistics(group, {"tracker.example:8080", true}));
  EXPECT_FALSE(dialog.Choice().userEnabled);
  EXPECT_TRUE(dialog.Choice().groupEnabled);
  EXPECT_EQ(dialog.Scope(), FilterAdditionScope::kGroup);
  EXPECT_EQ(dialog.kind, kFilterHost);
  dialog.Choose(FilterAdditionScope::kUser);  // not offered: stays on the group
  EXPECT_EQ(dialog.Scope(), FilterAdditionScope::kGroup);
  ASSERT_EQ(dialog.Accept(), FilterAdditionDialog::Ok::kAdded);
  EXPECT_EQ(Stored("Filters", "g00000004"), "1; 0; 1, tracker.example:8080, 0;");
}

TEST_F(ConsoleDialogs, AdditionForEverybodyGoesToTheEndOfTheGlobalDenyList) {
  StatisticsWindowSubject all;
  FilterAdditionDialog dialog(engine_, AdditionFromStatistics(all, {"http://x.example/a?b", false}));
  EXPECT_FALSE(dialog.Choice().userEnabled);
  EXPECT_FALSE(dialog.Choice().groupEnabled);
  EXPECT_EQ(dialog.Scope(), FilterAdditionScope::kGlobal);
  ASSERT_EQ(dialog.Accept(), FilterAdditionDialog::Ok::kAdded);
  EXPECT_EQ(Stored("Filters", "Global"), "1; 0; 1, ads.example, 0; 0, http://x.example/a?b, 0;");
  EXPECT_EQ(GlobalFilters().denyFilter, Stored("Filters", "Global"));
}

TEST_F(ConsoleDialogs, AnEmptyPatternOnlySendsTheFocusBackAndAGoneUserTakesNothing) {
  FilterAdditionDialog dialog(engine_, AdditionFromMonitor({IvanId(), "  "}));
  EXPECT_EQ(dialog.Accept(), FilterAdditionDialog::Ok::kFocusPattern);
  EXPECT_EQ(Stored("Filters", "ivan"), "<absent>");

  dialog.pattern = "ads";
  ASSERT_TRUE(engine_.DeleteConfigUser(IvanId()));
  EXPECT_EQ(dialog.Accept(), FilterAdditionDialog::Ok::kNotAdded);
  EXPECT_EQ(Stored("Filters", "ivan"), "<absent>");
  EXPECT_EQ(Stored("Filters", "Global"), "1; 0; 1, ads.example, 0;");
}

// --- Page 4 -------------------------------------------------------------------

TEST_F(ConsoleDialogs, TheFilterPageEditsItsListsAndStoresThemWithItsPage) {
  FilterPageEditor page(engine_, Marker());
  editor_.SetListPage(kPageFilters, &page);
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageFilters}));
  EXPECT_TRUE(page.Lists().enabled);
  ASSERT_EQ(page.Shown().size(), 1u);
  EXPECT_EQ(editor_.Mask().Value(), 0);

  EXPECT_FALSE(page.Add("", kFilterUrl));
  EXPECT_EQ(editor_.Mask().Value(), 0) << "an empty pattern changes nothing";
  ASSERT_TRUE(page.Add("*.exe", kFilterExtension));
  EXPECT_EQ(page.Selected(), 1);
  EXPECT_EQ(editor_.Mask().Value(), kChangedAny);
  page.SelectTab(kAllowTab);
  ASSERT_EQ(page.Shown().size(), 1u);
  page.Select(0);
  page.Toggle();
  EXPECT_EQ(page.Shown()[0].off, 0);
  page.SetEnabled(false);

  EXPECT_EQ(Stored("Filters", "Global"), "1; 0; 1, ads.example, 0;") << "nothing is stored before apply";
  EditorApplyResult applied = editor_.Apply();
  ASSERT_TRUE(applied.ok);
  EXPECT_EQ(Stored("Filters", "Global"), "0; 0; 1, ads.example, 0; 3, *.exe, 0;");
  EXPECT_EQ(Stored("FiltersW", "Global"), "0; 0; 0, *.lan/*, 0;");
  EXPECT_EQ(GlobalFilters().allowFilter, "0; 0; 0, *.lan/*, 0;");
  EXPECT_EQ(editor_.Mask().Value(), 0);
  EXPECT_FALSE(page.Lists().enabled);

  // Cancel drops the working copy.
  page.SelectTab(kDenyTab);
  page.Select(0);
  page.Delete();
  EXPECT_EQ(page.Shown().size(), 1u);
  editor_.Cancel();
  EXPECT_EQ(page.Lists().deny.size(), 2u);
  EXPECT_EQ(editor_.Mask().Value(), 0);
}

TEST_F(ConsoleDialogs, AUserPagesFilterTabEditsTheDraftAndIsStoredWithTheUser) {
  ASSERT_TRUE(editor_.Select({NodeKind::kUser, IvanId()}));
  ConsoleUserDraft& draft = editor_.Accounts().User();
  FilterPageEditor filters(DraftFilterSource(draft.denyFilter, draft.allowFilter),
                           [this](int bits) { editor_.Accounts().Edited(bits); });
  filters.Load();
  EXPECT_TRUE(filters.Shown().empty());
  ASSERT_TRUE(filters.Add("casino", kFilterHost));
  EXPECT_EQ(draft.denyFilter, "0; 0; 1, casino, 0;") << "the draft takes the change at once";
  EXPECT_TRUE(editor_.Mask().Dirty());
  EXPECT_EQ(Stored("Filters", "ivan"), "<absent>") << "nothing is stored before apply";
  filters.SelectTab(kAllowTab);
  ASSERT_TRUE(filters.Add("*.lan/*", kFilterUrl));

  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(Stored("Filters", "ivan"), "0; 0; 1, casino, 0;");
  EXPECT_EQ(Stored("FiltersW", "ivan"), "0; 0; 0, *.lan/*, 0;");
  // The page loaded again shows what is stored.
  filters.Load();
  filters.SelectTab(kDenyTab);
  ASSERT_EQ(filters.Shown().size(), 1u);
  EXPECT_EQ(filters.Shown()[0].pattern, "casino");
}

TEST_F(ConsoleDialogs, ImportAddsToOrReplacesTheListShown) {
  const std::string file = Path("urls.flt");
  WriteText(file, "; a comment\r\n  banner*\r\n*.mp3;3\r\n\r\nvideo.example;1\r\nodd;7\r\n");
  FilterPageEditor page(engine_, Marker());
  editor_.SetListPage(kPageFilters, &page);
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageFilters}));

  EXPECT_EQ(page.Import(file, false).text, "");
  const std::vector<FilterEntry> appended{{"ads.example", kFilterHost, 0},
                                          {"banner*", kFilterUrl, 0},
                                          {"*.mp3", kFilterExtension, 0},
                                          {"video.example", kFilterHost, 0},
                                          {"odd", kFilterUrl, 0}};
  EXPECT_EQ(page.Shown(), appended);
  EXPECT_EQ(editor_.Mask().Value(), kChangedAny);

  page.SelectTab(kAllowTab);
  EXPECT_EQ(page.Import(file, true).text, "");
  EXPECT_EQ(page.Shown(), std::vector<FilterEntry>(appended.begin() + 1, appended.end()));

  const ConfigBox refused = page.Import(Path("missing.flt"), true);
  EXPECT_EQ(refused.caption, Str(961));
  EXPECT_EQ(refused.text, Str(1167) + Path("missing.flt") + "'");
  EXPECT_EQ(page.Shown().size(), 4u) << "an unreadable file changes nothing";

  EXPECT_EQ(FilterImportDialog("/opt/b").defaultName, "urls.flt");
  EXPECT_EQ(FilterImportDialog("/opt/b").filter, "Patterns of filters files|*.flt");
}

TEST_F(ConsoleDialogs, FilterGridsNameTheFourKinds) {
  EXPECT_EQ(FilterKindNames(), (std::vector<std::string>{"URL", "Host", "Resource", "Extension"}));
  EXPECT_EQ(FilterRow({"*.exe", kFilterExtension, 1}), (std::array<std::string, 2>{"*.exe", "Extension"}));
  EXPECT_EQ(FilterRow({"x", 6, 0})[1], "");
  EXPECT_EQ(FilterColumnTitles(), (std::array<std::string, 2>{"Подстрока", "Тип"}));
}

// --- Pages 7 and 10 -----------------------------------------------------------

TEST_F(ConsoleDialogs, TheRelayListIsStoredOnlyAfterItsPagesSettingsPassed) {
  RelayPageEditor relays(engine_, Marker());
  editor_.SetListPage(kPageMail, &relays);
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPageMail}));
  MailRuleFields fields = relays.NewFields();
  EXPECT_EQ(fields.smtpPort, "25");
  fields.domain = "Example.RU";
  fields.smtpServer = "smtp.example.ru";
  fields.popServer = "pop.example.ru";
  ASSERT_TRUE(relays.Add(fields).outcome.ok);
  EXPECT_EQ(fields.domain, "example.ru");
  MailRuleFields again = relays.NewFields();
  again.domain = "EXAMPLE.ru";
  const MailRuleCheck twice = relays.Add(again);
  EXPECT_EQ(twice.outcome.message, Str(1252));
  EXPECT_EQ(twice.field, MailRuleField::kDomain);
  ASSERT_EQ(relays.Rules().size(), 1u);

  editor_.Settings().Edit("EdSmtpPort", "twenty-five");
  EditorApplyResult failed = editor_.Apply();
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.focusControl, "EdSmtpPort");
  EXPECT_EQ(Stored("PostRelays", "example.ru"), "<absent>");

  editor_.Settings().Edit("EdSmtpPort", "2525");
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(Stored("PostRelays", "example.ru"), "smtp.example.ru; 25; pop.example.ru; 110; 0;");
  EXPECT_EQ(MailRules()->size(), 1u);
  EXPECT_EQ(editor_.Mask().Value(), 0);
}

TEST_F(ConsoleDialogs, EveryPortMappingChangeAsksTheListenerToReopen) {
  PortMapPageEditor mappings(engine_, Marker());
  editor_.SetListPage(kPagePortMapping, &mappings);
  ASSERT_TRUE(editor_.Select({NodeKind::kPage, kPagePortMapping}));
  ASSERT_GE(mappings.Users().size(), 2u);
  EXPECT_EQ(mappings.Users()[1].login, "ivan");

  PortMapDialog dialog = mappings.NewDialog();
  EXPECT_EQ(dialog.name, "Связь 0");
  dialog.listenPort = "2222";
  dialog.destHost = "inside.example";
  dialog.destPort = "22";
  dialog.user = 1;
  ASSERT_TRUE(mappings.Accept(dialog, -1).ok);
  EXPECT_EQ(editor_.Mask().Value(), kChangedPortMapping);

  PortMapDialog clash = mappings.NewDialog();
  clash.name = "Связь 0";
  const DialogOutcome refused = mappings.Accept(clash, -1);
  EXPECT_EQ(refused.message, Str(1252));
  EXPECT_EQ(refused.field, DialogField::kName);

  reopened_.clear();
  EditorApplyResult applied = editor_.Apply();
  ASSERT_TRUE(applied.ok);
  EXPECT_EQ(Stored("PortMapping", "Связь 0"),
            "0; 0.0.0.0; 0.0.0.0; 0.0.0.0; 2222; inside.example; 22; 0; ivan; 0; 0;");
  EXPECT_EQ(reopened_, std::vector<int>{kReopenPortMapping});
  ASSERT_EQ(PortMapRules().size(), 1u);
  ASSERT_EQ(mappings.Rules().size(), 1u) << "the page shows the rules in force again";

  mappings.Select(0);
  mappings.Toggle();
  EXPECT_EQ(editor_.Mask().Value(), kChangedPortMapping);
  ASSERT_TRUE(editor_.Apply().ok);
  EXPECT_EQ(Stored("PortMapping", "Связь 0"),
            "0; 0.0.0.0; 0.0.0.0; 0.0.0.0; 2222; inside.example; 22; 0; ivan; 0; 1;");
  EXPECT_EQ(reopened_.size(), 2u);
  EXPECT_TRUE(PortMapRules()[0].disabled);
}

TEST_F(ConsoleDialogs, AnOpenedRuleKeepsAListeningAddressTheHostNoLongerHas) {
  PortMapPageEditor mappings(engine_, Marker());
  PortMapDialog dialog;
  dialog.listenAddress = 0x0A0000FE;
  const std::vector<Ipv4> offered = mappings.ListenAddressesFor(dialog);
  ASSERT_FALSE(offered.empty());
  EXPECT_EQ(offered.back(), 0x0A0000FEu);
  dialog.listenAddress = 0;
  EXPECT_EQ(mappings.ListenAddressesFor(dialog).size(), offered.size() - 1);
}

// --- The subscription window --------------------------------------------------

TEST_F(ConsoleDialogs, TheTicketWindowOpensTopsUpAndClosesASubscription) {
  TicketWindow window(engine_, IvanId());
  EXPECT_FALSE(window.Refresh()) << "only a prepaid user has the window";
  MakePrepaid(true);
  ASSERT_TRUE(window.Refresh());
  EXPECT_EQ(window.Caption(), "Абонемент для 'Иван Петров' (открыть)");
  EXPECT_EQ(window.OpenedText(), "-");
  EXPECT_TRUE(window.EditDirectlyForced());
  EXPECT_FALSE(window.CloseOffered());

  TicketEntry wrong{"", "ten", "", "", ""};
  SubscriptionOutcome refused = window.Apply(wrong, false);
  EXPECT_FALSE(refused.edit.ok);
  EXPECT_EQ(refused.edit.message, "\"ten\"- " + Str(782));
  EXPECT_FALSE(window.Open());

  TicketEntry opening{"", "10", "", "", ""};
  SubscriptionOutcome opened = window.Apply(opening, false);
  ASSERT_TRUE(opened.edit.ok);
  EXPECT_EQ(opened.event, kOpenTicketEvent);
  ASSERT_TRUE(window.Open());
  EXPECT_EQ(window.Caption(), "Абонемент для 'Иван Петров' №1");
  EXPECT_EQ(window.OpenedText(), "05.03.2024 10:20:30");
  EXPECT_EQ(window.LimitText(1), "10");
  EXPECT_EQ(window.LimitText(0), "-");
  EXPECT_EQ(window.RemainingText(0), "");
  EXPECT_EQ(window.RemainingText(1), "10");
  EXPECT_FALSE(window.EditDirectlyForced());
  EXPECT_TRUE(window.CloseOffered());

  clock_.local += 3600;
  TicketEntry more{"", "5", "90", "", ""};
  SubscriptionOutcome added = window.Apply(more, false);
  EXPECT_EQ(added.event, kAddTicketEvent);
  EXPECT_EQ(FindOrCreateUser("ivan")->ticket.limit.incoming, 15 * kMb);
  EXPECT_EQ(window.LimitText(1), "15");
  EXPECT_EQ(window.LimitText(2), "1:30:00");
  EXPECT_EQ(window.ChangedText(), "05.03.2024 11:20:30");
  EXPECT_EQ(window.LimitsAsEntry().incomingMb, "15");
  EXPECT_EQ(window.LimitsAsEntry().minutes, "90");
  EXPECT_NE(Stored("Tickets", "ivan"), "<absent>");

  EXPECT_EQ(TicketWindow::CloseQuestion().text, "Закрыть абонемент?");
  SubscriptionOutcome closed = window.Close();
  EXPECT_EQ(closed.event, kCloseTicketEvent);
  EXPECT_EQ(Stored("Tickets", "ivan"), "<absent>");
  EXPECT_FALSE(window.Open());
  const std::string log = ReadText(TicketLogPath());
  EXPECT_NE(log.find("OPEN_TICKET, ivan"), std::string::npos);
  EXPECT_NE(log.find("CLOSE_TICKET, ivan"), std::string::npos);
}

// --- The additional restrictions and the address range ------------------------

TEST_F(ConsoleDialogs, RestrictionsAreWrittenBackOnlyWhenEveryNumberConverts) {
  AccessRules rules;
  rules.protocolDenied[kColumnSocks5] = true;
  rules.dialUpDenied = true;
  RestrictionFields fields = RestrictionFieldsOf(rules);
  EXPECT_TRUE(fields.allowed[kColumnHttp]);
  EXPECT_FALSE(fields.allowed[kColumnSocks5]);
  EXPECT_FALSE(fields.dialUpAllowed);

  fields.allowed[kColumnSocks5] = true;
  fields.allowed[kColumnFtp] = false;
  fields.maxDocumentMb = "2,5";
  fields.bigTransferMb = "lots";
  fields.prepaid = true;
  const AccessRules before = rules;
  RestrictionCheck refused = ApplyRestrictionFields(fields, rules);
  EXPECT_FALSE(refused.outcome.ok);
  EXPECT_EQ(refused.field, RestrictionField::kBigTransferMb);
  EXPECT_EQ(refused.outcome.caption, Str(780));
  EXPECT_EQ(refused.outcome.message, "\"lots\"- " + Str(782));
  EXPECT_EQ(rules, before);

  fields.bigTransferMb = "";
  fields.bigTransferSpeed = "-3";
  EXPECT_EQ(ApplyRestrictionFields(fields, rules).field, RestrictionField::kBigTransferSpeed);
  fields.bigTransferSpeed = "64";
  fields.dialUpAllowed = true;
  ASSERT_TRUE(ApplyRestrictionFields(fields, rules).outcome.ok);
  EXPECT_EQ(rules.maxDocumentMb, 2.5);
  EXPECT_EQ(fields.maxDocumentMb, "2.5");
  EXPECT_EQ(fields.bigTransferMb, "0");
  EXPECT_EQ(rules.bigTransferSpeed, 64);
  EXPECT_TRUE(rules.protocolDenied[kColumnFtp]);
  EXPECT_FALSE(rules.protocolDenied[kColumnSocks5]);
  EXPECT_TRUE(rules.prepaid);
  EXPECT_FALSE(rules.dialUpDenied);
}

TEST_F(ConsoleDialogs, TheRangeDialogChecksBothAddressesAndJoinsThem) {
  RangeFields fields = RangeFieldsOf("192.168.0.1-192.168.0.254");
  EXPECT_EQ(fields.from, "192.168.0.1");
  EXPECT_EQ(fields.to, "192.168.0.254");
  EXPECT_EQ(RangeFieldsOf("10.0.0.5").to, "10.0.0.5");

  fields.to = "192.168.0.300";
  RangeCheck refused = CheckRangeFields(fields);
  EXPECT_FALSE(refused.outcome.ok);
  EXPECT_EQ(refused.field, RangeField::kTo);
  EXPECT_EQ(refused.outcome.message, Str(781));
  fields.from = "255.255.255.255";
  EXPECT_EQ(CheckRangeFields(fields).field, RangeField::kFrom);

  fields = {" 10.0.0.1 ", "10.0.0.9"};
  RangeCheck ok = CheckRangeFields(fields);
  ASSERT_TRUE(ok.outcome.ok);
  EXPECT_EQ(ok.range, "10.0.0.1-10.0.0.9");
}

}  // namespace
}  // namespace brindlex
