// The console attached to a real gateway finds what the administrator looks
// for: monitor lines that came while the monitor was stopped or a service's
// lines were switched off show once he resumes; they carry their time, dates
// day first and a refusal's message text; a user added a moment ago is on
// the users page, and a switch hides the idle; a user added from a group's
// page is the one the configuration tree marks.
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

#include "console/qt/config_page.h"
#include "console/qt/group_pages.h"
#include "console/qt/monitor_page.h"
#include "console/qt/users_page.h"
#include "core/strings.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"
#include "tests/qt/attached_gateway.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kLoopback = "EnableLoopbackTargets=1\r\n";

// A button or check box of `parent` by its caption (localised or not yet).
template <typename Widget>
Widget* Captioned(QWidget* parent, int caption) {
  for (Widget* widget : parent->findChildren<Widget*>())
    if (widget->text().toStdString() == Str(caption) || widget->text() == QString("#%1").arg(caption)) return widget;
  return nullptr;
}

QCheckBox* SwitchBox(QWidget* monitor, const char* caption) {
  for (QCheckBox* box : monitor->findChildren<QCheckBox*>())
    if (box->text() == caption) return box;
  return nullptr;
}

// The monitor list's line holding `text`, or -1.
int ShownLine(MonitorPage* monitor, const std::string& text) {
  QListWidget* list = monitor->findChild<QListWidget*>();
  for (int row = 0; row < list->count(); ++row)
    if (list->item(row)->text().toStdString().find(text) != std::string::npos) return row;
  return -1;
}

struct ConsoleFinding : ::testing::Test {
  static void SetUpTestSuite() {
    origin_ = new NginxOrigin;
    for (const char* name : {"paused.txt", "hidden.txt", "shown.txt", "busy.txt"}) origin_->Serve(name, "body");
    ASSERT_TRUE(origin_->Start());
  }
  static void TearDownTestSuite() { delete origin_; }

  static std::string Url(const std::string& name) {
    return "http://127.0.0.1:" + std::to_string(origin_->port()) + "/" + name;
  }

  // A transfer through the gateway whose connection line the gateway has
  // shown and handed to its consoles; the console has it once this returns.
  static void Fetch(AttachedWindow& window, const std::string& name) {
    int code = -1;
    Curl(window.gateway.Proxy(), Url(name), &code);
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(window.gateway.process->WaitForOutput(name)) << window.gateway.process->Output();
    TakePushes(window);
  }

  // A call's reply comes after every push queued before it; the pushes then
  // go to the engine as the link's pump would hand them.
  static void TakePushes(AttachedWindow& window) {
    window.link.Engine().Status();
    window.link.Client().DeliverPushes(
        [&](AdminPush kind, std::string_view payload) { window.link.Engine().HandlePush(kind, payload); });
  }

  static inline NginxOrigin* origin_ = nullptr;
};

TEST_F(ConsoleFinding, LinesThatCameWhileStoppedOrSwitchedOffShowOnResume) {
  AttachedWindow window(kLoopback, AccountSections({AddressUser("127.0.0.1", "Desk")}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  MonitorPage* monitor = window.form.Monitor();
  window.form.Pages()->setCurrentWidget(monitor);
  QPushButton* stop = Captioned<QPushButton>(monitor, 115);
  ASSERT_NE(stop, nullptr);

  stop->click();
  Fetch(window, "paused.txt");
  EXPECT_EQ(ShownLine(monitor, "paused.txt"), -1) << "stopped: the list stands still";
  stop->click();
  EXPECT_TRUE(PumpUntil([&] { return ShownLine(monitor, "paused.txt") >= 0; }, 3s));

  QCheckBox* http = SwitchBox(monitor, "HTTP");
  ASSERT_NE(http, nullptr);
  http->setChecked(false);
  EXPECT_EQ(ShownLine(monitor, "paused.txt"), -1) << "HTTP's lines hidden";
  Fetch(window, "hidden.txt");
  EXPECT_EQ(ShownLine(monitor, "hidden.txt"), -1);
  http->setChecked(true);
  EXPECT_TRUE(PumpUntil([&] { return ShownLine(monitor, "hidden.txt") >= 0; }, 3s));
  EXPECT_LT(ShownLine(monitor, "paused.txt"), ShownLine(monitor, "hidden.txt")) << "in the order they came";

  // Stopped with the switch off and on again: the resume shows both.
  stop->click();
  http->setChecked(false);
  Fetch(window, "shown.txt");
  http->setChecked(true);
  EXPECT_EQ(ShownLine(monitor, "shown.txt"), -1);
  stop->click();
  EXPECT_TRUE(PumpUntil([&] { return ShownLine(monitor, "shown.txt") >= 0; }, 3s));
  EXPECT_GE(ShownLine(monitor, "paused.txt"), 0);
}

TEST_F(ConsoleFinding, AMonitorLineShowsItsTimeADayFirstDateAndTheRefusalsText) {
  AttachedWindow window(kLoopback, AccountSections({LoginUser("anna", "pw")}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  MonitorPage* monitor = window.form.Monitor();

  // Without a login the gateway answers with the login challenge.
  int code = -1;
  Curl(window.gateway.Proxy(), Url("busy.txt"), &code);
  ASSERT_TRUE(window.gateway.process->WaitForOutput("REFUSED")) << window.gateway.process->Output();
  TakePushes(window);
  const int refused = ShownLine(monitor, "REFUSED");
  ASSERT_GE(refused, 0);
  const std::string text = monitor->findChild<QListWidget*>()->item(refused)->text().toStdString();
  EXPECT_NE(text.find("422 (" + InstalledMessage(422) + ")"), std::string::npos) << text;
  ASSERT_GE(text.size(), 10u);
  EXPECT_EQ(text[2], ':') << text;
  EXPECT_EQ(text[5], ':') << text;

  Curl(window.gateway.Proxy(), Url("busy.txt"), &code, "--proxy-user anna:pw");
  ASSERT_EQ(code, 0);
  // Field 2 of a connection line is the login, field 3 the address.
  ASSERT_TRUE(window.gateway.process->WaitForOutput("anna, 127.0.0.1, ")) << window.gateway.process->Output();
  TakePushes(window);
  const int line = ShownLine(monitor, "anna, 127.0.0.1, ");
  ASSERT_GE(line, 0);
  QListWidget* list = monitor->findChild<QListWidget*>();
  const std::string connection = list->item(line)->text().toStdString();
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char today[48];
  std::snprintf(today, sizeof(today), "%02d.%02d.%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
  EXPECT_NE(connection.find(std::string(", ") + today + ", "), std::string::npos) << connection;
}

TEST_F(ConsoleFinding, AUserAddedAMomentAgoIsListedAndTheSwitchHidesTheIdle) {
  AttachedWindow window(kLoopback, AccountSections({AddressUser("127.0.0.1", "Desk")}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  UsersPage* page = window.form.Users();
  auto* table = page->findChild<QTableWidget*>();
  const auto shows = [&](const QString& name) {
    for (int row = 0; row < table->rowCount(); ++row)
      if (table->item(row, 0) != nullptr && table->item(row, 0)->text().contains(name)) return true;
    return false;
  };
  int code = -1;
  Curl(window.gateway.Proxy(), Url("busy.txt"), &code);
  ASSERT_EQ(code, 0);
  ASSERT_TRUE(PumpUntil([&] {
    page->Rebuild();
    const ConsoleUser* desk = nullptr;
    for (std::size_t row = 0; row < page->Grid().Rows().size(); ++row)
      if (const ConsoleUser* user = page->Grid().UserOf(row); user && user->name == "Desk") desk = user;
    return desk != nullptr && desk->month.incoming > 0;
  }));

  ConsoleUserDraft user = *window.link.Engine().NewConfigUser(0);
  user.name = "Новичок";
  user.login = "novice";
  user.password = "pw";
  ASSERT_TRUE(window.link.Engine().SaveConfigUser(user, std::nullopt).ok);
  EXPECT_TRUE(PumpUntil([&] { return shows("Новичок"); }, 10s));

  QCheckBox* hideIdle = Captioned<QCheckBox>(page, 1380);
  ASSERT_NE(hideIdle, nullptr);
  EXPECT_FALSE(hideIdle->isChecked());
  hideIdle->setChecked(true);
  EXPECT_FALSE(shows("Новичок"));
  EXPECT_TRUE(shows("Desk")) << "he has traffic";
  hideIdle->setChecked(false);
  EXPECT_TRUE(shows("Новичок"));
}

TEST_F(ConsoleFinding, AUserAddedFromAGroupsPageIsTheOneTheTreeMarks) {
  UserRecord boris = LoginUser("boris", "pw");
  boris.name = "Boris";
  AttachedWindow window(kLoopback, AccountSections({AddressUser("127.0.0.1", "Anna"), boris}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  ConfigPage* config = window.form.Config();
  window.form.Pages()->setCurrentWidget(config);
  QTreeWidget* tree = config->Tree();
  ASSERT_TRUE(PumpUntil([&] { return tree->topLevelItemCount() > 0; }));

  // The group that holds Anna and Boris.
  QTreeWidgetItem* group = nullptr;
  for (int top = 0; top < tree->topLevelItemCount() && group == nullptr; ++top)
    for (int i = 0; i < tree->topLevelItem(top)->childCount(); ++i)
      if (tree->topLevelItem(top)->child(i)->childCount() == 2) group = tree->topLevelItem(top)->child(i);
  ASSERT_NE(group, nullptr);
  tree->setCurrentItem(group);
  auto* groupPage = config->findChild<GroupPageWidget*>();
  ASSERT_TRUE(PumpUntil([&] { return groupPage->isVisible(); }));
  QWidget* usersTab = groupPage->findChild<QListWidget*>("LbUsers")->parentWidget();
  groupPage->Tabs()->setCurrentWidget(usersTab);
  QPushButton* add = nullptr;
  for (QPushButton* button : usersTab->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly))
    if (button->text().toStdString() == Str(111)) add = button;
  ASSERT_NE(add, nullptr);
  add->click();

  QTreeWidgetItem* marked = tree->currentItem();
  ASSERT_NE(marked, nullptr);
  EXPECT_NE(marked->text(0), "Anna");
  EXPECT_NE(marked->text(0), "Boris");
  ASSERT_NE(marked->parent(), nullptr);
  EXPECT_EQ(marked->parent()->childCount(), 3) << "the new user's own node, under his group";
  EXPECT_TRUE(config->Editor().SelectedIsNew());
}

}  // namespace
}  // namespace brindlex::testing
