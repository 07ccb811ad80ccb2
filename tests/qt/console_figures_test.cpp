// The console's figures against a real gateway that adds a 10 % overhead to
// traffic: the users grid by day and by an interval of the same day, the
// statistics window and the user's own web page show one and the same
// corrected figure; the status bar's average speed falls back once the line
// idles after a burst; an interval date typed by the administrator stays in
// its edit while the grid refreshes.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "console/qt/main_form.h"
#include "console/qt/statistics_form.h"
#include "console/qt/users_page.h"
#include "console/users_view.h"
#include "core/accounting.h"
#include "core/clock.h"
#include "core/counter_rebuild.h"
#include "core/date_time.h"
#include "core/display_forms.h"
#include "core/log_files.h"
#include "core/strings.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"
#include "tests/qt/attached_gateway.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kFileSize = 700 * 1024;
constexpr std::size_t kSlowSize = 400 * 1024;  // 20 s at the origin's rate
constexpr int kOverhead = 10;
constexpr std::int64_t kMegabyte = 1024 * 1024;  // KbPerMb's default

class ConsoleFigures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    origin_ = new NginxOrigin;
    origin_->extraServerConfig = "location = /slow.bin { limit_rate 20k; }";
    origin_->Serve("file.bin", std::string(kFileSize, 'f'));
    origin_->Serve("slow.bin", std::string(kSlowSize, 's'));
    ASSERT_TRUE(origin_->Start());
  }
  static void TearDownTestSuite() { delete origin_; }

  // A gateway with the overhead, Desk working from this machine, and the
  // console attached to it.
  static std::unique_ptr<AttachedWindow> Attach() {
    auto window = std::make_unique<AttachedWindow>(
        "EnableLoopbackTargets=1\r\nCorrectTraffic=" + std::to_string(kOverhead) + "\r\n",
        AccountSections({AddressUser("127.0.0.1", "Desk")}));
    window->form.resize(1000, 620);
    return window;
  }

  static std::string Url(const std::string& name) {
    return "http://127.0.0.1:" + std::to_string(origin_->port()) + "/" + name;
  }

  static inline NginxOrigin* origin_ = nullptr;
};

// The text of a cell in Desk's row of the users grid, as it is on screen.
std::string DeskCell(TMainFormBX& form, int column) {
  auto* table = form.Users()->findChild<QTableWidget*>();
  for (int row = 0; row < table->rowCount(); ++row)
    if (table->item(row, kUsersName) != nullptr && table->item(row, kUsersName)->text().contains("Desk"))
      return table->item(row, column) != nullptr ? table->item(row, column)->text().toStdString() : "";
  return "";
}

QPushButton* ButtonOf(QWidget* parent, int caption) {
  for (QPushButton* button : parent->findChildren<QPushButton*>())
    if (button->text().toStdString() == Str(caption)) return button;
  return nullptr;
}

// The received bytes of the session log lines of today, as logged.
std::int64_t LoggedReceived(const std::string& home) {
  const std::int64_t now = ProgramClock().LocalNow();
  std::ifstream file(home + "/Logging/" + SessionLogName(now));
  std::int64_t received = 0;
  std::string line;
  while (std::getline(file, line)) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, ',');) fields.push_back(field);
    if (fields.size() > 6) received += std::stoll(fields[6]);
  }
  return received;
}

// The cells of the days table's totals row on the user's page.
std::vector<std::string> TotalsOfDaysTable(const std::string& page) {
  const std::string opening = "<tr><td>" + Str(813);
  const std::size_t at = page.find(opening);
  if (at == std::string::npos) return {};
  std::string row = page.substr(at + opening.size());
  row = row.substr(0, row.find("<tr>"));
  std::vector<std::string> cells;
  for (std::size_t from = 0; (from = row.find("<td>", from)) != std::string::npos; from += 4) {
    const std::size_t end = row.find("<td>", from + 4);
    cells.push_back(row.substr(from + 4, end == std::string::npos ? std::string::npos : end - from - 4));
  }
  return cells;
}

TEST_F(ConsoleFigures, TheGridTheStatisticsAndTheUsersPageShowOneCorrectedFigure) {
  auto window = Attach();
  ASSERT_TRUE(window->up) << window->gateway.process->Output();
  TMainFormBX& form = window->form;
  const ProxyGateway& gateway = window->gateway;
  int code = -1;
  ASSERT_EQ(Curl(gateway.Proxy(), Url("file.bin"), &code).size(), kFileSize);
  ASSERT_EQ(code, 0);

  // Today's view, while the session is still open.
  auto* periods = form.Users()->findChild<QTabBar*>();
  periods->setCurrentIndex(1);
  ASSERT_TRUE(PumpUntil([&] {
    form.Users()->Rebuild();
    return DeskCell(form, kUsersIncoming).rfind("0 ", 0) != 0 && !DeskCell(form, kUsersIncoming).empty();
  })) << DeskCell(form, kUsersIncoming);
  const std::string day = DeskCell(form, kUsersIncoming);
  const std::string daySent = DeskCell(form, kUsersOutgoing);

  // The same day as an interval: the open session counts there too.
  periods->setCurrentIndex(2);
  QPushButton* refresh = ButtonOf(form.Users(), 53);
  ASSERT_NE(refresh, nullptr);
  refresh->click();
  EXPECT_EQ(DeskCell(form, kUsersIncoming), day);
  EXPECT_EQ(DeskCell(form, kUsersOutgoing), daySent);

  // The session ends and is logged: every view has the logged bytes plus
  // the overhead.
  const UsersSnapshot users = window->link.Engine().Users();
  ASSERT_EQ(users.users.size(), 1u);
  const ConsoleUser desk = users.users.front();
  window->link.Engine().CloseUserSessions(desk.id);
  ASSERT_TRUE(PumpUntil([&] { return LoggedReceived(gateway.home) > 0; })) << gateway.process->Output();
  const std::int64_t logged = LoggedReceived(gateway.home);
  EXPECT_GE(logged, static_cast<std::int64_t>(kFileSize));
  const std::string corrected = FormatTrafficIn(logged + logged * kOverhead / 100, TrafficUnit::KbAndMb, kMegabyte);
  ASSERT_NE(corrected, FormatTrafficIn(logged, TrafficUnit::KbAndMb, kMegabyte));

  periods->setCurrentIndex(1);
  form.Users()->Rebuild();
  EXPECT_EQ(DeskCell(form, kUsersIncoming), corrected);
  periods->setCurrentIndex(2);
  refresh->click();
  EXPECT_EQ(DeskCell(form, kUsersIncoming), corrected);
  const std::string intervalTime = DeskCell(form, kUsersTime);
  periods->setCurrentIndex(1);
  EXPECT_EQ(DeskCell(form, kUsersTime), intervalTime) << "the interval's time is the day's";

  // The statistics window of the day: its footer.
  const double today =
      LocalSecondsToDateTime(DaysBetween(ProgramClock().LocalNow(), ProgramClock().LocalNow()).front());
  TForm3* statistics = form.Statistics()->OpenPeriod(StatisticsSubjectOfUser(desk), today, today);
  ASSERT_NE(statistics, nullptr);
  const QList<QTableWidget*> grids = statistics->findChildren<QTableWidget*>();
  ASSERT_EQ(grids.size(), 2);
  QTableWidget* footer = grids[1];
  ASSERT_NE(footer->item(0, 3), nullptr);
  EXPECT_EQ(footer->item(0, 0)->text().toStdString(), Str(813));
  EXPECT_EQ(footer->item(0, 3)->text().toStdString(), corrected);
  statistics->close();

  // The user's own page: today's figure and the month's table.
  WriteFile(gateway.home + "/wwwroot/figures.html",
            "<p>day %STAT_DAY_RECEIVED%</p><p>month %STAT_MON_RECEIVED%</p><table>%TABLE_STAT_DAYS%</table>");
  const std::string page = Curl(gateway.Proxy(), "http://brindlex/figures.html", &code);
  ASSERT_EQ(code, 0) << page;
  EXPECT_NE(page.find("<p>day " + corrected + "</p>"), std::string::npos) << page;
  EXPECT_NE(page.find("<p>month " + corrected + "</p>"), std::string::npos) << page;
  const std::vector<std::string> totals = TotalsOfDaysTable(page);
  ASSERT_EQ(totals.size(), 4u) << page;
  EXPECT_EQ(totals[2], corrected) << page;
}

TEST_F(ConsoleFigures, TheAverageSpeedFallsBackWhenTheLineIdlesAfterABurst) {
  auto window = Attach();
  ASSERT_TRUE(window->up) << window->gateway.process->Output();
  TMainFormBX& form = window->form;
  QLabel* status = form.statusBar()->findChild<QLabel*>();
  ASSERT_NE(status, nullptr);
  // The average in Kb per second, or -1 while the bar shows none.
  const auto average = [&]() -> double {
    const std::string text = status->text().toStdString();
    const std::size_t at = text.find(Str(31));
    if (at == std::string::npos) return -1;
    return std::stod(text.substr(at + Str(31).size()));
  };
  EXPECT_EQ(average(), -1) << status->text().toStdString();

  int code = -1;
  ASSERT_EQ(Curl(window->gateway.Proxy(), Url("file.bin"), &code).size(), kFileSize);
  ASSERT_TRUE(PumpUntil([&] { return average() > 0; })) << status->text().toStdString();
  // The burst is over; after the second that was being filled has moved in,
  // idle seconds follow.
  QTest::qWait(1200);
  const double afterBurst = average();
  ASSERT_GT(afterBurst, 0);
  EXPECT_TRUE(PumpUntil([&] { return average() >= 0 && average() < afterBurst / 2; }, 10s))
      << "still " << status->text().toStdString() << " after " << afterBurst;
}

TEST_F(ConsoleFigures, AnIntervalDatePickedOrTypedSurvivesTheGridsRefreshes) {
  auto window = Attach();
  ASSERT_TRUE(window->up) << window->gateway.process->Output();
  TMainFormBX& form = window->form;
  // A slow download keeps the users' figures changing, so the grid is
  // rebuilt every second.
  auto download = std::async(std::launch::async, [proxy = window->gateway.Proxy()] {
    int code = 0;
    return Curl(proxy, Url("slow.bin"), &code, "--max-time 60").size();
  });
  form.Users()->findChild<QTabBar*>()->setCurrentIndex(2);
  const QList<QLineEdit*> edits = form.Users()->findChildren<QLineEdit*>();
  ASSERT_GE(edits.size(), 2);
  QLineEdit* from = edits[0];
  ASSERT_TRUE(from->isEnabled());
  const std::string shownToday = from->text().toStdString();

  // Each rebuild of the grid puts new items in.
  auto* table = form.Users()->findChild<QTableWidget*>();
  auto rebuilt = [&, item = table->item(0, 0)]() mutable {
    const bool changed = table->item(0, 0) != item;
    item = table->item(0, 0);
    return changed;
  };
  int rebuilds = 0;
  const auto passRebuilds = [&](int count) {
    rebuilds = 0;
    PumpUntil([&] { return (rebuilds += rebuilt()) >= count; }, 10s);
    EXPECT_GE(rebuilds, count);
  };

  // A day picked with "Календарь": one not in the first week of the month
  // shown, or the last cell when today is in it, so never today.
  QPushButton* calendar = ButtonOf(form.Users(), 54);
  ASSERT_NE(calendar, nullptr);
  const bool earlyInMonth = LocalTm(ProgramClock().LocalNow()).tm_mday <= 7;
  QTimer::singleShot(100, [earlyInMonth] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    auto* days = dialog->findChild<QTableWidget*>();
    if (days != nullptr)
      emit days->cellDoubleClicked(earlyInMonth ? 5 : 0, earlyInMonth ? 6 : 0);
    else
      dialog->reject();
  });
  calendar->click();
  const std::string picked = from->text().toStdString();
  ASSERT_NE(picked, shownToday);
  passRebuilds(3);
  EXPECT_EQ(from->text().toStdString(), picked) << "was " << shownToday;

  // A date typed in.
  from->setFocus();
  from->selectAll();
  QTest::keyClicks(from, "01.12.2026");
  ASSERT_EQ(from->text().toStdString(), "01.12.2026");
  passRebuilds(3);
  EXPECT_EQ(from->text().toStdString(), "01.12.2026");

  // Typing on, one key at a time with the refreshes in between.
  from->selectAll();
  for (const char key : std::string("02.12.2026")) {
    QTest::keyClick(from, key);
    QTest::qWait(400);
  }
  EXPECT_EQ(from->text().toStdString(), "02.12.2026");

  // "Обновить" takes the dates; the grid's refreshes show them from then on.
  ButtonOf(form.Users(), 53)->click();
  passRebuilds(2);
  EXPECT_EQ(from->text().toStdString(), "02.12.2026");

  const UsersSnapshot users = window->link.Engine().Users();
  ASSERT_EQ(users.users.size(), 1u);
  window->link.Engine().CloseUserSessions(users.users.front().id);
  EXPECT_LT(download.get(), kSlowSize);
}

}  // namespace
}  // namespace brindlex::testing
