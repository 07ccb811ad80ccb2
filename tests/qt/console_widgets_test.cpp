// The console's widgets over a prepared engine: what they show is the view
// logic's (tested in unit/); here only that the widgets show it, that their
// commands reach it, and that texts fit their columns.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QRadioButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

#include "console/qt/cache_page.h"
#include "console/qt/connections_page.h"
#include "console/qt/main_form.h"
#include "console/qt/monitor_page.h"
#include "console/qt/users_page.h"
#include "core/strings.h"
#include "tests/qt/office_scene.h"

namespace brindlex::testing {
namespace {

class ConsoleWidgets : public ::testing::Test {
 protected:
  void SetUp() override {
    FillOffice(engine_);
    form_ = std::make_unique<TMainFormBX>(engine_, MainFormCommands{[this] { ++exits_; }, [this] { ++stops_; }, [this] { ++reconnects_; }});
    form_->resize(1000, 620);
    form_->Users()->Rebuild();
  }

  QTableWidget* UsersTable() { return form_->Users()->findChild<QTableWidget*>(); }

  // Every cell's text fits its column (nothing cut off with an ellipsis).
  static void ExpectTextsFit(QTableWidget* table) {
    for (int row = 0; row < table->rowCount(); ++row)
      for (int column = 0; column < table->columnCount(); ++column) {
        const QTableWidgetItem* item = table->item(row, column);
        if (item == nullptr) continue;
        // The style's margin on both sides and the indent of a user's name
        // count: they shift the text to the right.
        const int margin = table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1;
        const int width = QFontMetrics(item->font()).horizontalAdvance(item->text()) + 2 * margin +
                          item->data(Qt::UserRole + 1).toInt();
        EXPECT_LE(width, table->columnWidth(column))
            << "row " << row << " column " << column << ": " << item->text().toStdString();
      }
  }

  // Every button and label that shows is wide enough for its caption.
  static void ExpectCaptionsFit(QWidget* page) {
    for (QAbstractButton* button : page->findChildren<QAbstractButton*>()) {
      if (!button->isVisible() || button->text().isEmpty()) continue;
      EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 8)
          << button->text().toStdString();
    }
    for (QLabel* label : page->findChildren<QLabel*>()) {
      if (!label->isVisible()) continue;
      EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
    }
  }

  // With BRINDLEX_SCREENSHOTS set, the page is saved there for a person to
  // look at.
  void Shot(int page, const char* name) {
    form_->Pages()->setCurrentIndex(page);
    // What the main timer does each second.
    const ConsoleRefresh refresh = form_->Refresh();
    refresh.perSecondViews();
    refresh.repaintTree();
    const char* folder = std::getenv("BRINDLEX_SCREENSHOTS");
    if (folder == nullptr) return;
    QDir().mkpath(folder);
    EXPECT_TRUE(form_->grab().save(QString("%1/%2.png").arg(folder, name)));
  }

  FakeConsoleEngine engine_;
  std::unique_ptr<TMainFormBX> form_;
  int exits_ = 0;
  int stops_ = 0;
  int reconnects_ = 0;
};

TEST_F(ConsoleWidgets, TheUsersGridShowsTheViewsRowsInEveryViewAndUnit) {
  QTableWidget* table = UsersTable();
  const UsersGrid& grid = form_->Users()->Grid();
  auto* periods = form_->Users()->findChild<QTabBar*>();
  for (int period = 0; period < 4; ++period) {
    periods->setCurrentIndex(period);
    for (QRadioButton* unit : form_->Users()->findChildren<QRadioButton*>()) {
      unit->click();
      ASSERT_EQ(static_cast<std::size_t>(table->rowCount()), grid.Rows().size());
      for (std::size_t row = 0; row < grid.Rows().size(); ++row)
        for (int column = 0; column < kUsersColumns; ++column) {
          const QTableWidgetItem* item = table->item(static_cast<int>(row), column);
          ASSERT_NE(item, nullptr);
          EXPECT_EQ(item->text().toStdString(), grid.Cell(row, column));
          const UsersCellLook look = grid.Look(row, column);
          EXPECT_EQ(item->font().italic(), look.italic);
          EXPECT_EQ(item->font().bold(), look.bold);
          EXPECT_EQ(item->foreground().color() == Qt::gray, look.grey);
        }
    }
  }
}

TEST_F(ConsoleWidgets, AHeaderClickSortsByMoneyWithATieOrderedByName) {
  // Two users of one group with the same cost.
  engine_.users.users[0].month.money = engine_.users.users[1].month.money;
  QTableWidget* table = UsersTable();
  table->horizontalHeader()->sectionClicked(kUsersMoney);
  std::vector<std::string> names;
  for (int row = 0; row < table->rowCount(); ++row) names.push_back(table->item(row, kUsersName)->text().toStdString());
  const auto igor = std::find(names.begin(), names.end(), "Кузнецов Игорь");
  const auto anna = std::find(names.begin(), names.end(), "Смирнова Анна Петровна");
  ASSERT_NE(igor, names.end());
  ASSERT_NE(anna, names.end());
  EXPECT_LT(igor, anna);
}

TEST_F(ConsoleWidgets, TheMonitorFollowsItsModelAndAddToFilterNeedsAUserThatIsStillThere) {
  MonitorPage* monitor = form_->Monitor();
  std::vector<FilterRequest> opened;
  monitor->SetFilterEditor([&](const FilterRequest& request) { opened.push_back(request); });
  for (int line = 1; line <= 110; ++line) monitor->Add("line " + std::to_string(line));
  EXPECT_EQ(monitor->List()->count(), 110);
  // The 111th line cuts the oldest eleven at once.
  monitor->Add("line 111");
  ASSERT_EQ(monitor->List()->count(), 100);
  // Each line is shown after the time it came.
  const QString first = monitor->List()->item(0)->text();
  EXPECT_TRUE(first.endsWith("  line 12") && first.size() == 17 && first[2] == ':' && first[5] == ':')
      << first.toStdString();
  EXPECT_TRUE(monitor->List()->item(99)->text().endsWith("  line 111"));
  EXPECT_EQ(monitor->List()->currentRow(), 99);

  // A line of a user that was deleted since: nothing opens.
  const std::string line = OfficeMonitorLines()[1];
  engine_.users.users[0].deleted = true;
  monitor->Add(line);
  ASSERT_TRUE(monitor->AddToFilterButton()->isEnabled());
  monitor->AddToFilterButton()->click();
  EXPECT_TRUE(opened.empty());
  engine_.users.users[0].deleted = false;
  monitor->AddToFilterButton()->click();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].userId, 0u);
  EXPECT_EQ(opened[0].url, "http://bank.example.ru/statements/december.pdf");
}

TEST_F(ConsoleWidgets, TheActionButtonClosesTheClickedLineAndHidesAfterSixIdleSeconds) {
  ConnectionsPage* page = form_->Connections();
  form_->Pages()->setCurrentWidget(page);
  form_->show();
  page->Repaint();
  // The second line is Anna's session.
  QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(40, kTreeLineHeight + kTreeLineHeight / 2));
  ASSERT_TRUE(page->ActionButton()->isVisible());
  EXPECT_EQ(page->ActionButton()->text().toStdString(), TreeActionCaption(TreeLineKind::kUserSession));
  for (int second = 1; second <= 5; ++second) page->Second();
  EXPECT_TRUE(page->ActionButton()->isVisible());
  page->Second();
  EXPECT_FALSE(page->ActionButton()->isVisible());

  QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(40, kTreeLineHeight / 2));
  page->ActionButton()->click();
  ASSERT_EQ(engine_.treeCloses.size(), 1u);
  EXPECT_EQ(engine_.treeCloses[0].kind, TreeLineKind::kAddress);
  EXPECT_EQ(engine_.treeCloses[0].handle, 1u);
  EXPECT_FALSE(page->ActionButton()->isVisible());
}

TEST_F(ConsoleWidgets, ClosingTheWindowOnlyHidesItAndEveryPageFits) {
  form_->show();
  for (const std::string& line : OfficeMonitorLines()) form_->Monitor()->Add(line);
  Shot(0, "users");
  ExpectTextsFit(UsersTable());
  ExpectCaptionsFit(form_->Users());
  Shot(1, "connections");
  Shot(2, "monitor");
  ExpectCaptionsFit(form_->Monitor());
  Shot(3, "cache");
  ExpectCaptionsFit(form_->CacheView());
  ExpectTextsFit(form_->CacheView()->findChild<QTableWidget*>());
  EXPECT_EQ(static_cast<std::size_t>(form_->CacheView()->findChild<QTableWidget*>()->rowCount()),
            engine_.cacheEntries.size());
  form_->close();
  // Hidden in the tray, or on a desktop without one, in the task bar.
  if (QSystemTrayIcon::isSystemTrayAvailable())
    EXPECT_FALSE(form_->isVisible());
  else
    EXPECT_TRUE(form_->isMinimized());
  EXPECT_EQ(exits_, 0);
}

// The tray's "Закрыть" ends the console only; the link can be tried again
// after it gave up; stopping the gateway asks first, and the answer Enter
// gives is "Нет".
TEST_F(ConsoleWidgets, TheTrayClosesTheConsoleAndStopsTheGatewayOnlyAfterAYes) {
  QMenu* tray = nullptr;
  for (QMenu* menu : form_->findChildren<QMenu*>())
    for (QAction* action : menu->actions())
      if (action->text().toStdString() == Str(1315)) tray = menu;
  ASSERT_NE(tray, nullptr);
  const auto trigger = [&](int id) {
    for (QAction* action : tray->actions())
      if (action->text().toStdString() == Str(id)) action->trigger();
  };
  trigger(1334);
  EXPECT_EQ(reconnects_, 1);
  trigger(104);
  EXPECT_EQ(exits_, 1);
  EXPECT_EQ(stops_, 0);

  std::vector<std::string> texts;
  std::vector<QMessageBox::StandardButton> defaults;
  QMessageBox::StandardButton answer = QMessageBox::NoButton;
  QTimer answering;
  QObject::connect(&answering, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    texts.push_back(box->text().toStdString());
    defaults.push_back(box->standardButton(box->defaultButton()));
    // Enter, or the answer asked for.
    QAbstractButton* button = answer == QMessageBox::NoButton ? box->defaultButton() : box->button(answer);
    button->click();
  });
  answering.start(10);
  trigger(1315);
  EXPECT_EQ(stops_, 0);
  answer = QMessageBox::Yes;
  trigger(1315);
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(exits_, 1);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], Str(1316));
  EXPECT_NE(texts[0].find("без Интернета"), std::string::npos);
  EXPECT_EQ(defaults, (std::vector<QMessageBox::StandardButton>{QMessageBox::No, QMessageBox::No}));
}

}  // namespace
}  // namespace brindlex::testing
