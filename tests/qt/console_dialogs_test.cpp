// The editing dialogs and the list pages over the fake engine: what their OK
// hands to the logic reaches the engine, and the wiring of the main window
// opens the filter dialog from the monitor. The checks themselves are tested
// in unit/.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>

#include "console/qt/filter_form.h"
#include "console/qt/filter_page.h"
#include "console/qt/main_form.h"
#include "console/qt/monitor_page.h"
#include "console/qt/port_map_form.h"
#include "console/qt/port_map_page.h"
#include "console/qt/range_form.h"
#include "console/qt/relay_form.h"
#include "console/qt/relay_page.h"
#include "console/qt/restrictions_form.h"
#include "console/qt/ticket_form.h"
#include "tests/qt/office_scene.h"

namespace brindlex::testing {
namespace {

constexpr std::int64_t kBytesPerMbForTest = 1048576;

// With BRINDLEX_SCREENSHOTS set, the widget is saved there for a person to
// look at.
void Shot(QWidget* widget, const char* name) {
  const char* folder = std::getenv("BRINDLEX_SCREENSHOTS");
  if (folder == nullptr) return;
  QDir().mkpath(folder);
  // A dialog at the size it asks for; a page at the size the test gave it.
  if (qobject_cast<QDialog*>(widget)) widget->adjustSize();
  EXPECT_TRUE(widget->grab().save(QString("%1/%2.png").arg(folder, name)));
}

QPushButton* Button(QWidget* parent, const char* text) {
  for (QPushButton* button : parent->findChildren<QPushButton*>())
    if (button->text() == QString::fromUtf8(text)) return button;
  ADD_FAILURE() << "no button " << text;
  return nullptr;
}

void ClickOk(QWidget* dialog) { dialog->findChild<QPushButton*>("OkButton")->click(); }

class ConsoleDialogWidgets : public ::testing::Test {
 protected:
  std::function<void(int)> Marker() {
    return [this](int bits) { marks_ |= bits; };
  }
  FakeConsoleEngine engine_;
  int marks_ = 0;
};

TEST_F(ConsoleDialogWidgets, TheFilterPageAddsThroughItsDialogAndAppliesBothLists) {
  engine_.filterLists = {true, {{"ads.example", kFilterHost, 0}}, {{"*.lan/*", kFilterUrl, 1}}};
  FilterPage page(engine_, Marker(), nullptr);
  page.resize(640, 420);
  ASSERT_EQ(page.Table()->rowCount(), 1);
  EXPECT_EQ(page.Table()->item(0, 1)->text().toStdString(), "Host");
  page.SetDialogRunner([](QDialog& dialog) {
    auto& form = static_cast<TFormFilter&>(dialog);
    Shot(&form, "filter_form");
    form.Pattern()->setText("*.exe");
    form.Kind()->setCurrentIndex(kFilterExtension);
    ClickOk(&form);
    EXPECT_EQ(form.result(), QDialog::Accepted);
  });
  Button(&page, "Добавить")->click();
  ASSERT_EQ(page.Table()->rowCount(), 2);
  EXPECT_EQ(page.Table()->item(1, 0)->text().toStdString(), "*.exe");
  EXPECT_EQ(page.Table()->currentRow(), 1);
  EXPECT_EQ(marks_, kChangedAny);

  // The allow tab's entry is switched off: drawn grey, and on again.
  page.findChild<QTabBar*>()->setCurrentIndex(kAllowTab);
  ASSERT_EQ(page.Table()->rowCount(), 1);
  EXPECT_EQ(page.Table()->item(0, 0)->foreground().color(), QColor(Qt::gray));
  Button(&page, "Вкл/Откл")->click();
  EXPECT_NE(page.Table()->item(0, 0)->foreground().color(), QColor(Qt::gray));
  Shot(&page, "filter_page");

  ASSERT_TRUE(page.Editor().Apply().ok);
  ASSERT_EQ(engine_.appliedFilterLists.size(), 1u);
  const ConsoleFilterLists expected{
      true, {{"ads.example", kFilterHost, 0}, {"*.exe", kFilterExtension, 0}}, {{"*.lan/*", kFilterUrl, 0}}};
  EXPECT_EQ(engine_.appliedFilterLists[0], expected);
}

TEST_F(ConsoleDialogWidgets, AnEmptyPatternKeepsTheFilterDialogOpen) {
  FilterPage page(engine_, Marker(), nullptr);
  page.SetDialogRunner([](QDialog& dialog) {
    ClickOk(&dialog);
    EXPECT_EQ(dialog.result(), QDialog::Rejected) << "still open";
  });
  Button(&page, "Добавить")->click();
  EXPECT_EQ(page.Table()->rowCount(), 0);
  EXPECT_EQ(marks_, 0);
}

TEST_F(ConsoleDialogWidgets, TheMonitorsAddToFilterOpensTheDialogForItsUser) {
  FillOffice(engine_);
  engine_.filterChoice = {true, true, FilterAdditionScope::kUser, "Смирнова Анна Петровна", "Бухгалтерия"};
  TMainFormBX form(engine_, MainFormCommands{});
  MonitorPage* monitor = form.Monitor();
  monitor->Add(OfficeMonitorLines()[1]);
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TFormFilter*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    seen = true;
    EXPECT_TRUE(dialog->ScopeButton(FilterAdditionScope::kUser)->isChecked());
    EXPECT_TRUE(dialog->ScopeButton(FilterAdditionScope::kGroup)->isEnabled());
    Shot(dialog, "filter_addition");
    dialog->ScopeButton(FilterAdditionScope::kGroup)->click();
    ClickOk(dialog);
  });
  monitor->AddToFilterButton()->click();
  ASSERT_TRUE(seen);
  ASSERT_EQ(engine_.addedFilters.size(), 1u);
  const FakeConsoleEngine::FilterAdded& added = engine_.addedFilters[0];
  EXPECT_EQ(added.subject, StatisticsSubject::kUser);
  EXPECT_EQ(added.id, 0u);
  EXPECT_EQ(added.scope, FilterAdditionScope::kGroup);
  EXPECT_EQ(added.kind, kFilterUrl);
  EXPECT_EQ(added.pattern, "http://bank.example.ru/statements/december.pdf");
}

TEST_F(ConsoleDialogWidgets, TheRelayPageAddsADomainThroughTFormRelayEdit) {
  RelayPage page(engine_, Marker(), nullptr);
  page.resize(640, 360);
  page.SetDialogRunner([](QDialog& dialog) {
    auto& form = static_cast<TFormRelayEdit&>(dialog);
    form.Field(MailRuleField::kDomain)->setText("Example.RU");
    form.Field(MailRuleField::kSmtpServer)->setText("smtp.example.ru");
    form.Field(MailRuleField::kPopServer)->setText("pop.example.ru");
    Shot(&form, "relay_form");
    ClickOk(&form);
    EXPECT_EQ(form.Field(MailRuleField::kDomain)->text().toStdString(), "example.ru");
  });
  Button(&page, "Добавить")->click();
  ASSERT_EQ(page.Table()->rowCount(), 1);
  EXPECT_EQ(page.Table()->item(0, 1)->text().toStdString(), "smtp.example.ru:25");
  EXPECT_EQ(marks_, kChangedAny);
  Shot(&page, "relay_page");
  ASSERT_TRUE(page.Editor().Apply().ok);
  ASSERT_EQ(engine_.appliedRelays.size(), 1u);
  ASSERT_EQ(engine_.appliedRelays[0].size(), 1u);
  EXPECT_EQ(engine_.appliedRelays[0][0].domain, "example.ru");
  EXPECT_EQ(engine_.appliedRelays[0][0].popPort, 110);
}

TEST_F(ConsoleDialogWidgets, ThePortMapPageAddsARuleAndMarksTheReopenBit) {
  engine_.portMapUsers = {{"  По IP-адресу", ""}, {"Иван Петров (ivan)", "ivan"}};
  engine_.localAddresses = {0xC0A80001};
  PortMapPage page(engine_, Marker(), nullptr);
  page.resize(760, 360);
  page.SetDialogRunner([](QDialog& dialog) {
    auto& form = static_cast<TFormPortMap&>(dialog);
    form.Field(DialogField::kListenPort)->setText("2222");
    form.Field(DialogField::kDestHost)->setText("inside.example");
    form.Field(DialogField::kDestPort)->setText("22");
    form.findChild<QComboBox*>("CoListen")->setCurrentIndex(1);
    form.findChild<QComboBox*>("CoUser")->setCurrentIndex(1);
    form.findChild<QComboBox*>("CoSource")->setCurrentIndex(kSourceRange);
    // Typing into "от" copies into "до".
    QLineEdit* from = form.Field(DialogField::kSourceFrom);
    from->clear();
    QTest::keyClicks(from, "10.0.0.7");
    EXPECT_EQ(form.Field(DialogField::kSourceTo)->text().toStdString(), "10.0.0.7");
    Shot(&form, "port_map_form");
    ClickOk(&form);
  });
  Button(&page, "Добавить")->click();
  ASSERT_EQ(page.Table()->rowCount(), 1);
  EXPECT_EQ(marks_, kChangedPortMapping);
  Shot(&page, "port_map_page");
  ASSERT_TRUE(page.Editor().Apply().ok);
  ASSERT_EQ(engine_.appliedPortMappings.size(), 1u);
  const PortMapRule& rule = engine_.appliedPortMappings[0].at(0);
  EXPECT_EQ(rule.name, "Связь 0");
  EXPECT_EQ(rule.listenPort, 2222);
  EXPECT_EQ(rule.listenAddress, 0xC0A80001u);
  EXPECT_EQ(rule.sourceKind, kSourceRange);
  EXPECT_EQ(rule.sourceFrom, 0x0A000007u);
  EXPECT_EQ(rule.sourceTo, 0x0A000007u);
  EXPECT_EQ(rule.login, "ivan");
}

TEST_F(ConsoleDialogWidgets, TheTicketFormSetsLimitsWithoutASubscriptionAndAddsToAnOpenOne) {
  ConsoleTicket ticket{"Иван Петров", "ivan", true, {}, {}, kBytesPerMbForTest};
  engine_.tickets[7] = ticket;
  int changes = 0;
  {
    TTicketForm form(
        engine_, 7, [&] { ++changes; }, nullptr);
    ASSERT_TRUE(form.Usable());
    EXPECT_TRUE(form.EditDirectly()->isChecked());
    EXPECT_TRUE(form.EditDirectly()->isHidden());
    EXPECT_FALSE(form.AddEdit(1)->isEnabled());
    form.LimitEdit(1)->setText("10");
    form.ApplyButton()->click();
    ASSERT_EQ(engine_.ticketApplies.size(), 1u);
    EXPECT_EQ(engine_.ticketApplies[0].userId, 7u);
    EXPECT_TRUE(engine_.ticketApplies[0].editDirectly);
    EXPECT_EQ(engine_.ticketApplies[0].entry.incomingMb, "10");
    EXPECT_EQ(engine_.ticketApplies[0].entry.outgoingMb, "0");
    EXPECT_EQ(changes, 1);
  }
  ticket.ticket = {true, 12, 45356.5, 45356.5, {0, 0, 10 * kBytesPerMbForTest, 0, 0}, {}};
  ticket.remaining = {kNoValue, kNoValue, 4 * kBytesPerMbForTest, kNoValue, kNoValue};
  engine_.tickets[7] = ticket;
  TTicketForm form(
      engine_, 7, [&] { ++changes; }, nullptr);
  EXPECT_EQ(form.windowTitle().toStdString(), "Абонемент для 'Иван Петров' №12");
  EXPECT_FALSE(form.EditDirectly()->isChecked());
  EXPECT_EQ(form.LimitEdit(1)->text().toStdString(), "10");
  EXPECT_TRUE(form.LimitEdit(1)->isReadOnly());
  Shot(&form, "ticket_form");
  form.AddEdit(0)->setText("5");
  Button(&form, "OK")->click();
  ASSERT_EQ(engine_.ticketApplies.size(), 2u);
  EXPECT_FALSE(engine_.ticketApplies[1].editDirectly);
  EXPECT_EQ(engine_.ticketApplies[1].entry.outgoingMb, "5");
  EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST_F(ConsoleDialogWidgets, TheRestrictionsDialogWritesItsFieldsIntoTheRules) {
  AccessRules rules;
  rules.protocolDenied[kColumnSocks5] = true;
  TAddRestF dialog(rules, nullptr);
  EXPECT_FALSE(dialog.Allowed(kColumnSocks5)->isChecked());
  EXPECT_TRUE(dialog.Allowed(kColumnHttp)->isChecked());
  Shot(&dialog, "restrictions_form");
  dialog.Allowed(kColumnHttp)->setChecked(false);
  dialog.AfterExceed(kColumnPop3)->setChecked(true);
  dialog.Field(RestrictionField::kMaxDocumentMb)->setText("3,5");
  ClickOk(&dialog);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(rules.protocolDenied[kColumnHttp]);
  EXPECT_TRUE(rules.protocolDenied[kColumnSocks5]);
  EXPECT_TRUE(rules.allowedAfterExceed[kColumnPop3]);
  EXPECT_EQ(rules.maxDocumentMb, 3.5);
}

TEST_F(ConsoleDialogWidgets, TheRangeDialogGivesTheCheckedRange) {
  TFormRangeA dialog(AddPrompt("LbUsersAddrs"), "192.168.0.1-192.168.0.9", nullptr);
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Добавить");
  EXPECT_EQ(dialog.From()->text().toStdString(), "192.168.0.1");
  Shot(&dialog, "range_form");
  dialog.To()->setText(" 192.168.0.20 ");
  ClickOk(&dialog);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Range(), "192.168.0.1-192.168.0.20");
}

}  // namespace
}  // namespace brindlex::testing
