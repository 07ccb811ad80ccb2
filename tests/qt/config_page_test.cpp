// The configuration page of a console attached to a real gateway (the
// brindlex executable, over its local socket): an apply reaches the gateway's
// listener, a changed page asks before it is left, and every page fits the
// window. The editor's decisions are tested in unit/.
#include "console/qt/config_page.h"

#include "console/qt/gateway_link.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

#include "console/qt/main_form.h"
#include "console/qt/settings_pages.h"
#include "console/qt/user_page.h"
#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

// Runs the event loop until `done` or the time-out; the link's pushes reach
// the views through it.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(20);
  }
  return true;
}

// Answers the message boxes that open next, in order, and keeps their texts.
class BoxAnswers {
 public:
  explicit BoxAnswers(std::vector<QMessageBox::StandardButton> answers) : answers_(std::move(answers)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || answers_.empty()) return;
      texts.push_back(box->text().toStdString());
      box->button(answers_.front())->click();
      answers_.erase(answers_.begin());
    });
    timer_.start(10);
  }
  std::vector<std::string> texts;

 private:
  std::vector<QMessageBox::StandardButton> answers_;
  QTimer timer_;
};

class ConfigPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    port_ = FreePort();
    home_ = MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(port_) + "\r\n");
    gateway_ = new GatewayProcess(home_);
    gateway_->Start();
    ConsoleTarget target;
    target.folder = home_;
    link_ = new GatewayLink(target);
    ASSERT_TRUE(link_->Client().WaitUntilUp(20s)) << gateway_->Output();
    engine_ = &link_->Engine();
    // A group and a user of it for the account pages.
    GroupRecord group = engine_->NewConfigGroup();
    group.name = "Бухгалтерия";
    const std::uint32_t number = engine_->SaveConfigGroup(group, true).id;
    ConsoleUserDraft user = *engine_->NewConfigUser(number);
    user.name = "Смирнова Анна Петровна";
    user.login = "anna";
    user.emails = {"anna@example.ru"};
    for (int day = 5; day < 7; ++day)
      for (int hour = 0; hour < 24; ++hour) user.schedule[static_cast<size_t>(day * 24 + hour)] = 0;
    userId_ = engine_->SaveConfigUser(user, std::nullopt).id;
  }
  static void TearDownTestSuite() {
    delete link_;
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0) << gateway_->Output();
    delete gateway_;
    RemoveFolder(home_);
  }

  void SetUp() override {
    ASSERT_TRUE(PumpUntil([] { return Accepts(port_); })) << "the gateway did not open port " << port_;
    form_ = std::make_unique<TMainFormBX>(*engine_, MainFormCommands{});
    link_->Attach(*form_);
    form_->resize(1000, 620);
    form_->show();
    form_->Pages()->setCurrentWidget(form_->Config());
    page_ = form_->Config();
  }
  void TearDown() override {
    engine_->SetMonitorSink([](const MonitorEntry&) {});
    engine_->SetMailStatusSink([](const std::string&) {});
    link_->Detach();
    form_.reset();
  }

  QLineEdit* Edit(const char* name) { return page_->findChild<QLineEdit*>(name); }
  void TypeInto(const char* name, const QString& text) {
    QLineEdit* edit = Edit(name);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }

  // With BRINDLEX_SCREENSHOTS set, the window is saved there for a person to
  // look at; the page shown must fit the window either way.
  void Shot(const char* name) {
    EXPECT_LE(form_->minimumSizeHint().width(), 1000) << name;
    EXPECT_LE(form_->minimumSizeHint().height(), 620) << name;
    QWidget* shown = page_->findChild<QStackedWidget*>()->currentWidget();
    EXPECT_LE(shown->minimumSizeHint().width(), shown->width()) << name;
    EXPECT_LE(shown->minimumSizeHint().height(), shown->height()) << name;
    const char* folder = std::getenv("BRINDLEX_SCREENSHOTS");
    if (folder == nullptr) return;
    QDir().mkpath(folder);
    EXPECT_TRUE(form_->grab().save(QString("%1/config_%2.png").arg(folder, name)));
  }

  static inline int port_ = 0;
  static inline std::string home_;
  static inline GatewayProcess* gateway_ = nullptr;
  static inline GatewayLink* link_ = nullptr;
  static inline RemoteEngine* engine_ = nullptr;
  static inline std::uint32_t userId_ = 0;
  std::unique_ptr<TMainFormBX> form_;
  ConfigPage* page_ = nullptr;
};

TEST_F(ConfigPageTest, LeavingAChangedPageAsksAndNoShowsTheValuesInForceAgain) {
  page_->SelectNode({NodeKind::kPage, kPageHttp});
  EXPECT_FALSE(page_->ApplyButton()->isEnabled());
  TypeInto("EdCascadePort", "3128");
  EXPECT_TRUE(page_->ApplyButton()->isEnabled());
  EXPECT_TRUE(page_->CancelButton()->isEnabled());
  {
    BoxAnswers answers({QMessageBox::No});
    page_->SelectNode({NodeKind::kPage, kPageFtp});
    ASSERT_EQ(answers.texts.size(), 1u);
    EXPECT_EQ(answers.texts[0], "Сохранить изменения конфигурации?");
  }
  EXPECT_EQ(page_->Editor().Selected(), (EditorNode{NodeKind::kPage, kPageFtp}));
  EXPECT_EQ(page_->Header()->text().toStdString(), "Настройка протокола FTP");
  EXPECT_EQ(engine_->ConfigValues({"EdCascadePort"}).at(0).text, "0");
  page_->SelectNode({NodeKind::kPage, kPageHttp});
  EXPECT_EQ(Edit("EdCascadePort")->text().toStdString(), "0");
  EXPECT_FALSE(page_->ApplyButton()->isEnabled());

  // Yes with a port that does not read: the box, and the page stays with
  // the port in focus; closing the window then keeps it open too.
  TypeInto("EdCascadePort", "31x");
  {
    BoxAnswers answers({QMessageBox::Yes, QMessageBox::Ok});
    page_->SelectNode({NodeKind::kPage, kPageFtp});
    ASSERT_EQ(answers.texts.size(), 2u);
    EXPECT_NE(answers.texts[1].find("некорректное число"), std::string::npos) << answers.texts[1];
  }
  EXPECT_EQ(page_->Editor().Selected(), (EditorNode{NodeKind::kPage, kPageHttp}));
  EXPECT_EQ(page_->Tree()->currentItem()->text(0).toStdString(), "HTTP");
  EXPECT_EQ(form_->focusWidget(), Edit("EdCascadePort"));
  {
    BoxAnswers answers({QMessageBox::Yes, QMessageBox::Ok});
    form_->close();
    EXPECT_EQ(answers.texts.size(), 2u);
  }
  EXPECT_TRUE(form_->isVisible());
  // "Отменить" shows the port in force again.
  page_->CancelButton()->click();
  EXPECT_EQ(Edit("EdCascadePort")->text().toStdString(), "0");
  EXPECT_FALSE(page_->ApplyButton()->isEnabled());
  form_->close();
  // Hidden in the tray (in the task bar on a desktop without one).
  EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable() ? !form_->isVisible() : form_->isMinimized());
}

TEST_F(ConfigPageTest, EveryPageFitsTheWindow) {
  page_->SelectNode({NodeKind::kPage, kPageHttp});
  Shot("http");
  page_->SelectNode({NodeKind::kPage, kPageMore});
  Shot("more");
  const std::uint32_t group = engine_->ConfigUser(userId_)->groupNumber;
  page_->SelectNode({NodeKind::kGroup, group});
  ASSERT_EQ(page_->Editor().Selected(), (EditorNode{NodeKind::kGroup, group}));
  Shot("group");
  page_->SelectNode({NodeKind::kUser, userId_});
  ASSERT_EQ(page_->Editor().Selected(), (EditorNode{NodeKind::kUser, userId_}));
  auto* user = page_->findChild<UserPageWidget*>();
  Shot("user");
  user->Tabs()->setCurrentIndex(2);
  Shot("user_schedule");
  // Painting a weekend hour by mouse marks the page changed.
  EXPECT_FALSE(page_->ApplyButton()->isEnabled());
  QTest::mousePress(user->Grid(), Qt::LeftButton, {}, user->Grid()->CellRect(6, 10).center());
  EXPECT_TRUE(page_->ApplyButton()->isEnabled());
  EXPECT_TRUE(ScheduleAllows(page_->Editor().Accounts().User().schedule, 6, 10));
  page_->CancelButton()->click();
}

TEST_F(ConfigPageTest, ApplyingANewHttpPortMovesTheGatewayToIt) {
  const int newPort = FreePort();
  page_->SelectNode({NodeKind::kPage, kPageHttp});
  TypeInto("EdHttpPort", QString::number(newPort));
  ASSERT_TRUE(page_->ApplyButton()->isEnabled());
  QTest::mouseClick(page_->ApplyButton(), Qt::LeftButton);
  EXPECT_FALSE(page_->ApplyButton()->isEnabled());
  EXPECT_TRUE(PumpUntil([&] { return Accepts(newPort); })) << "nothing answers on the new port " << newPort;
  EXPECT_TRUE(PumpUntil([&] { return !Accepts(port_); })) << "the old port " << port_ << " still answers";
  EXPECT_EQ(Edit("EdHttpPort")->text().toStdString(), std::to_string(newPort));
  // Back again, for the tests that run after this one in the same process.
  TypeInto("EdHttpPort", QString::number(port_));
  QTest::mouseClick(page_->ApplyButton(), Qt::LeftButton);
  EXPECT_TRUE(PumpUntil([&] { return Accepts(port_); }));
}

}  // namespace
}  // namespace brindlex::testing
