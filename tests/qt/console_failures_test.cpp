// What the console says when something the administrator asked for fails,
// against a real gateway where one is involved: every failure is a box that
// says what happened and what to do. The export and a cached object that no
// program opens name their file and open its folder; a message that cannot
// leave, a wrong password, "Абонемент" without a subscription user and the
// recount without its program each say why; the dial-up entry is chosen from
// the gateway's entries; an exception that escapes a handler names the
// handler's step.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

#include "console/qt/cache_page.h"
#include "console/qt/config_page.h"
#include "console/qt/console_application.h"
#include "console/qt/desktop_open.h"
#include "console/qt/in_password.h"
#include "console/qt/send_email.h"
#include "console/qt/settings_pages.h"
#include "console/qt/ticket_form.h"
#include "console/qt/users_page.h"
#include "core/process_state.h"
#include "core/report_exception.h"
#include "core/strings.h"
#include "dialup/ppp_peers.h"
#include "reports/report_sender.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/origin.h"
#include "tests/qt/attached_gateway.h"
#include "tests/unit/console_fake_engine.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

// A desktop where files of some kinds have no program: it records every URL
// it is asked to open and takes a folder only when `folders` says so.
struct Desktop {
  explicit Desktop(bool folders = true) {
    SetDesktopOpener([this, folders](const QUrl& url) {
      opened.push_back(url.toLocalFile().toStdString());
      return QFileInfo(url.toLocalFile()).isDir() && folders;
    });
  }
  ~Desktop() { SetDesktopOpener({}); }
  std::vector<std::string> opened;
};

QPushButton* ButtonOf(QWidget* parent, int caption) {
  for (auto* button : parent->findChildren<QPushButton*>())
    if (button->text().toStdString() == Str(caption)) return button;
  return nullptr;
}

// Chooses the entry captioned `caption` from the context menu that opens next.
void ChooseFromNextMenu(int caption) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, caption] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) return;
    timer->stop();
    timer->deleteLater();
    for (QAction* action : menu->actions()) {
      if (action->text().toStdString() != Str(caption)) continue;
      menu->setActiveAction(action);
      QTest::keyClick(menu, Qt::Key_Return);
      return;
    }
    menu->close();
  });
  timer->start(10);
}

void OpenUsersMenu(TMainFormBX& form) {
  auto* table = form.Users()->findChild<QTableWidget*>();
  emit table->customContextMenuRequested(QPoint(2, 2));
}

std::string TemporaryFolder() {
  char pattern[] = "/tmp/brindlex-failures-XXXXXX";
  return ::mkdtemp(pattern) ? std::string(pattern) : std::string();
}

UserRecord Mailed(UserRecord user, const std::string& address) {
  user.reportEmail = address;
  return user;
}

TEST(ConsoleFailures, AnExportNoProgramOpensNamesItsFileAndOpensItsFolder) {
  AttachedWindow window("", AccountSections({AddressUser("127.0.0.1", "Desk")}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  for (const bool folders : {true, false}) {
    Desktop desktop(folders);
    Answers answers;
    ChooseFromNextMenu(923);
    OpenUsersMenu(window.form);
    ASSERT_TRUE(PumpUntil([&] { return !answers.questions.empty(); }));
    // The file first, then its folder.
    ASSERT_EQ(desktop.opened.size(), 2u);
    const std::string file = desktop.opened[0];
    EXPECT_EQ(file.substr(file.size() - 5), ".xlsx");
    EXPECT_GT(std::filesystem::file_size(file), 0u) << "the sheet was written";
    EXPECT_EQ(desktop.opened[1], QFileInfo(QString::fromStdString(file)).absolutePath().toStdString());
    ASSERT_EQ(answers.questions.size(), 1u);
    EXPECT_EQ(answers.questions[0], StrWith(1400, file) + "\n" + Str(folders ? 1401 : 1402));
    std::filesystem::remove(file);
  }
}

TEST(ConsoleFailures, ViewingACachedObjectWithoutAProgramOrOneGoneSaysSo) {
  NginxOrigin origin;
  origin.extraServerConfig = "location /fresh/ { expires 1h; }";
  std::filesystem::create_directories(origin.folder() + "/www/fresh");
  origin.Serve("fresh/notes.xyz", "cached notes\n");
  ASSERT_TRUE(origin.Start());
  AttachedWindow window("LocalHosts=127.0.0.1\r\nEnableCach=1\r\nCachLocalHosts=1\r\n",
                        AccountSections({AddressUser("127.0.0.1", "Desk")}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  const std::string url = "http://127.0.0.1:" + std::to_string(origin.port()) + "/fresh/notes.xyz";
  int code = -1;
  ASSERT_EQ(Curl(window.gateway.Proxy(), url, &code), "cached notes\n");
  ASSERT_TRUE(PumpUntil([&] { return !window.link.Engine().CacheEntries().empty(); }));

  auto* page = window.form.findChild<CachePage*>();
  ASSERT_NE(page, nullptr);
  window.form.Pages()->setCurrentWidget(page);
  page->Refresh();
  auto* table = page->findChild<QTableWidget*>();
  ASSERT_EQ(table->rowCount(), 1);
  table->selectRow(0);

  Desktop desktop;
  Answers answers;
  ButtonOf(page, 116)->click();
  ASSERT_TRUE(PumpUntil([&] { return !answers.questions.empty(); }));
  ASSERT_EQ(desktop.opened.size(), 2u);
  EXPECT_EQ(desktop.opened[0].substr(desktop.opened[0].size() - 4), ".xyz");
  std::ifstream copy(desktop.opened[0]);
  std::string body;
  std::getline(copy, body);
  EXPECT_EQ(body, "cached notes") << "the copy is the object";
  EXPECT_EQ(answers.questions[0], StrWith(1404, desktop.opened[0]) + "\n" + Str(1401));

  // Gone from the gateway while the page still lists it.
  ASSERT_TRUE(window.link.Engine().DeleteCacheEntry(url));
  ButtonOf(page, 116)->click();
  ASSERT_TRUE(PumpUntil([&] { return answers.questions.size() == 2; }));
  EXPECT_EQ(answers.questions[1], Str(1405));
  EXPECT_EQ(desktop.opened.size(), 2u) << "nothing more to open";
}

TEST(ConsoleFailures, AMessageThatCannotLeaveStaysWithItsTextAndTheBoxSaysWhy) {
  AttachedWindow window("", AccountSections({Mailed(AddressUser("127.0.0.1", "Desk"), "desk@example.test"),
                                             AddressUser("127.0.0.2", "Nomail")}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  Answers answers;
  const auto send = [&](std::uint32_t userId, const QString& text) {
    TSendEmail dialog(window.link.Engine(), userId, "x", &window.form);
    dialog.show();
    dialog.findChild<QPlainTextEdit*>()->setPlainText(text);
    const std::size_t before = answers.questions.size();
    ButtonOf(&dialog, 1813)->click();
    EXPECT_TRUE(PumpUntil([&] { return answers.questions.size() > before; }));
    EXPECT_TRUE(dialog.isVisible()) << "the text stays to be sent later";
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    return answers.questions.empty() ? std::string() : answers.questions.back();
  };
  EXPECT_EQ(send(0, "Отчёт готов"), Str(1408)) << "no SMTP server on the gateway";
  EXPECT_EQ(send(1, "Отчёт готов"), Str(1407));
  EXPECT_EQ(send(0, "  \n"), Str(1411));
  EXPECT_EQ(send(7, "Отчёт готов"), Str(1406));
}

// Writes `text` into the message dialog when it opens and sends it.
struct MessageWriting {
  explicit MessageWriting(QString text) {
    QObject::connect(&timer, &QTimer::timeout, [this, text] {
      auto* dialog = qobject_cast<TSendEmail*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      timer.stop();
      dialog->findChild<QPlainTextEdit*>()->setPlainText(text);
      ButtonOf(dialog, 1813)->click();
    });
    timer.start(10);
  }
  QTimer timer;
};

TEST(ConsoleFailures, AMessageWhoseServerDoesNotAnswerIsABoxOnceItsBatchFails) {
  AttachedWindow window("SpamServer=127.0.0.1\r\nSpamPort=" + std::to_string(FreePort()) + "\r\n",
                        AccountSections({Mailed(AddressUser("127.0.0.1", "Desk"), "desk@example.test")}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  auto* table = window.form.Users()->findChild<QTableWidget*>();
  ASSERT_TRUE(PumpUntil([&] { return table->rowCount() > 0; }));
  for (int row = 0; row < table->rowCount(); ++row)
    if (table->item(row, 0) != nullptr && table->item(row, 0)->text().contains("Desk")) table->setCurrentCell(row, 0);
  Answers answers;
  MessageWriting writing("Счёт за месяц готов");
  ChooseFromNextMenu(108);
  OpenUsersMenu(window.form);
  ASSERT_TRUE(PumpUntil([&] { return !answers.questions.empty(); }, 30s)) << window.gateway.process->Output();
  EXPECT_EQ(answers.questions[0], StrWith(1426, SmtpStatusText(SmtpEvent::kConnectionFailed, {})));
}

// Types `typed` into the password dialog when it opens, or cancels it.
struct PasswordTyping {
  explicit PasswordTyping(std::optional<std::string> text) : typed(std::move(text)) {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<TInPassword*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      ++asked;
      if (!typed) return dialog->reject();
      dialog->Edit()->setText(QString::fromStdString(*typed));
      dialog->accept();
    });
    timer.start(10);
  }
  std::optional<std::string> typed;
  int asked = 0;
  QTimer timer;
};

TEST(ConsoleFailures, AWrongPasswordIsSaidAndACancelIsNot) {
  AttachedWindow window("PasswordAdmin=Секрет-7\r\n", AccountSections({AddressUser("127.0.0.1", "Desk")}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  Answers answers;
  {
    PasswordTyping typing(std::string("секрет-7"));
    EXPECT_FALSE(window.form.Config()->Enter());
    EXPECT_EQ(typing.asked, 1);
    EXPECT_TRUE(PumpUntil([&] { return !answers.questions.empty(); }, 2s));
    EXPECT_EQ(answers.questions, std::vector<std::string>{Str(1412)});
  }
  {
    PasswordTyping typing(std::nullopt);
    EXPECT_FALSE(window.form.Config()->Enter());
    QTest::qWait(100);
    EXPECT_EQ(answers.questions.size(), 1u) << "a cancel needs no box";
  }
  {
    PasswordTyping typing(std::string("Секрет-7"));
    EXPECT_TRUE(window.form.Config()->Enter());
    EXPECT_EQ(answers.questions.size(), 1u);
  }
}

TEST(ConsoleFailures, TheSubscriptionButtonSaysWhatToSelectAndAGoneSubscriptionSaysSo) {
  UserRecord prepaid = AddressUser("127.0.0.1", "Касса");
  prepaid.rules.prepaid = true;
  AttachedWindow window("", AccountSections({prepaid}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  UsersPage* page = window.form.Users();
  page->findChildren<QTabBar*>().first()->setCurrentIndex(3);
  auto* table = page->findChild<QTableWidget*>();
  ASSERT_TRUE(PumpUntil([&] {
    page->Rebuild();
    return table->rowCount() > 0;
  }));
  table->setCurrentCell(-1, -1);
  QPushButton* button = ButtonOf(page, 925);
  ASSERT_NE(button, nullptr);
  ASSERT_TRUE(button->isVisible());
  Answers answers;
  button->click();
  ASSERT_TRUE(PumpUntil([&] { return !answers.questions.empty(); }));
  EXPECT_EQ(answers.questions[0], Str(1413));

  // A user the gateway no longer has.
  OpenTicketForm(window.link.Engine(), 40, {}, &window.form);
  ASSERT_TRUE(PumpUntil([&] { return answers.questions.size() == 2; }));
  EXPECT_EQ(answers.questions[1], Str(1415));
}

TEST(ConsoleFailures, TheRecountSaysWhereItsProgramIsLookedForOrThatItDidNotStart) {
  AttachedWindow window("", AccountSections({AddressUser("127.0.0.1", "Desk")}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  const std::string folder = TemporaryFolder();
  ASSERT_FALSE(folder.empty());
  // PATH holds only the test's folder while the test runs, whatever ends it.
  struct PathOnly {
    explicit PathOnly(const std::string& folder) : folder(folder), saved(std::getenv("PATH") ? std::getenv("PATH") : "") {
      ::setenv("PATH", folder.c_str(), 1);
    }
    ~PathOnly() {
      ::setenv("PATH", saved.c_str(), 1);
      std::filesystem::remove_all(folder);
    }
    std::string folder;
    std::string saved;
  } pathOnly(folder);
  Answers answers;
  ChooseFromNextMenu(924);
  OpenUsersMenu(window.form);
  ASSERT_TRUE(PumpUntil([&] { return !answers.questions.empty(); }));
  EXPECT_EQ(answers.questions[0],
            Str(1811) + "\n" + StrWith(1416, QCoreApplication::applicationDirPath().toStdString()));

  // Found, but nothing can run it.
  const std::string program = folder + "/retally";
  std::ofstream(program) << "#!/nonexistent/interpreter\n";
  ::chmod(program.c_str(), 0755);
  ChooseFromNextMenu(924);
  OpenUsersMenu(window.form);
  ASSERT_TRUE(PumpUntil([&] { return answers.questions.size() == 2; }));
  EXPECT_EQ(answers.questions[1], StrWith(1417, program));
}

// The dial-up page of the editor, over an engine.
struct DialUpPage {
  explicit DialUpPage(ConsoleEngine& engine)
      : editor(engine, mask),
        widget(
            kPageDialUp, editor, [] {}, nullptr) {
    editor.Load(kPageDialUp, [this] { widget.Fill(); });
  }
  QLineEdit* Entry() { return widget.findChild<QLineEdit*>("EdDialUpConnection"); }
  ChangeMask mask;
  SettingsPageEditor editor;
  SettingsPageWidget widget;
};

TEST(ConsoleFailures, TheDialUpEntryIsChosenFromTheGatewaysEntriesOrTheBoxSaysWhyNone) {
  FakeConsoleEngine engine;
  DialUpPage page(engine);
  Answers answers("office");
  engine.phoneBook = {{"backup", "office"}, "", "/etc/ppp/peers"};
  ASSERT_NE(ButtonOf(&page.widget, 1423), nullptr);
  ButtonOf(&page.widget, 1423)->click();
  EXPECT_EQ(page.Entry()->text().toStdString(), "office");
  EXPECT_EQ(page.editor.Text("EdDialUpConnection"), "office");
  EXPECT_NE(page.mask.Value(), 0) << "the page is changed";
  EXPECT_TRUE(answers.questions.empty());

  engine.phoneBook = {{}, "", "/etc/ppp/peers"};
  ButtonOf(&page.widget, 1423)->click();
  engine.phoneBook = {{}, "нет программы pppd (/usr/sbin/pppd)", "/etc/ppp/peers"};
  ButtonOf(&page.widget, 1423)->click();
  engine.phoneBook = {};
  ButtonOf(&page.widget, 1423)->click();
  EXPECT_EQ(answers.questions,
            (std::vector<std::string>{StrWith(1422, "/etc/ppp/peers"),
                                      StrWith(1421, "нет программы pppd (/usr/sbin/pppd)"), Str(1425)}));
  EXPECT_EQ(page.editor.Text("EdDialUpConnection"), "office");
}

TEST(ConsoleFailures, TheDialUpListComesFromTheGatewaysMachine) {
  AttachedWindow window("EnableDialUp=1\r\n", AccountSections({AddressUser("127.0.0.1", "Desk")}));
  ASSERT_TRUE(window.up) << window.gateway.process->Output();
  // What the gateway's own backend finds on this machine.
  PppPeers machine;
  const std::string why = machine.WhyUnusable();
  DialUpPage page(window.link.Engine());
  Answers answers(machine.Entries().empty() ? "" : machine.Entries().front());
  ASSERT_NE(ButtonOf(&page.widget, 1423), nullptr);
  ButtonOf(&page.widget, 1423)->click();
  if (!why.empty()) {
    ASSERT_EQ(answers.questions.size(), 1u);
    EXPECT_EQ(answers.questions[0], StrWith(1421, why));
    // The monitor has been told once why nothing is dialled.
    EXPECT_TRUE(window.gateway.process->WaitForOutput(StrWith(1418, why)));
  } else if (machine.Entries().empty()) {
    EXPECT_EQ(answers.questions, std::vector<std::string>{StrWith(1422, "/etc/ppp/peers")});
  } else {
    EXPECT_EQ(page.Entry()->text().toStdString(), machine.Entries().front());
  }
}

// An exception that escapes a handler: the fatal report's box, caught here,
// and the fatal stops asked for meanwhile.
struct FatalReports {
  FatalReports() : application(qobject_cast<ConsoleApplication*>(QCoreApplication::instance())) {
    stopsBefore = application->FatalStops();
  }
  ~FatalReports() { Flags().fatalStop = false; }
  int Stops() const { return application->FatalStops() - stopsBefore; }
  ConsoleApplication* application;
  int stopsBefore = 0;
  Answers answers;
};

class ThrowingStatus : public FakeConsoleEngine {
 public:
  StatusFigures Status() override {
    if (fail) throw std::runtime_error("status gone");
    return FakeConsoleEngine::Status();
  }
  bool fail = false;
};

TEST(ConsoleFailures, AnExceptionInAHandlerIsReportedWithTheHandlersStep) {
  ASSERT_NE(qobject_cast<ConsoleApplication*>(QCoreApplication::instance()), nullptr);
  {
    // The console's timer work: the step of the status bar text.
    ThrowingStatus engine;
    TMainFormBX form(engine, MainFormCommands{});
    FatalReports reports;
    engine.fail = true;
    QTimer::singleShot(0, &form, [&form] { form.Refresh().perSecondViews(); });
    ASSERT_TRUE(PumpUntil([&] { return !reports.answers.questions.empty(); }, 5s));
    EXPECT_EQ(reports.answers.questions[0], ExceptionText("status gone", "MainTimer", 72));
    EXPECT_EQ(reports.Stops(), 1);
  }
  {
    // A handler without steps of its own: the receiver's class and the event.
    FatalReports reports;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&timer] {
      timer.stop();
      throw std::runtime_error("boom");
    });
    timer.start(0);
    ASSERT_TRUE(PumpUntil([&] { return !reports.answers.questions.empty(); }, 5s));
    EXPECT_EQ(reports.answers.questions[0], ExceptionText("boom", "QTimer", QEvent::Timer));
  }
  {
    // The innermost handler with a step names it; the silent abort says nothing.
    FatalReports reports;
    QTimer::singleShot(0, [] {
      HandlerStep outer("Outer", 1);
      HandlerStep inner("Inner", 2);
      inner.Set(5);
      throw std::runtime_error("deep");
    });
    ASSERT_TRUE(PumpUntil([&] { return !reports.answers.questions.empty(); }, 5s));
    EXPECT_EQ(reports.answers.questions[0], ExceptionText("deep", "Inner", 5));
    Flags().fatalStop = false;
    bool aborted = false;
    QTimer::singleShot(0, [&aborted] {
      aborted = true;
      HandlerStep step("Quiet", 3);
      throw AbortException();
    });
    ASSERT_TRUE(PumpUntil([&] { return aborted; }, 5s));
    QTest::qWait(50);
    EXPECT_EQ(reports.answers.questions.size(), 1u);
    EXPECT_EQ(reports.Stops(), 1) << "only the report before it stopped";
    EXPECT_FALSE(Flags().fatalStop);
    EXPECT_EQ(TakeFailedStep().module, "") << "the abort's step does not linger for the next report";
  }
  {
    // A report from another thread: the box and the stop on the GUI thread.
    FatalReports reports;
    std::thread([] { ReportException("far away", "Worker", 9); }).join();
    EXPECT_EQ(reports.Stops(), 0) << "not on the reporting thread";
    ASSERT_TRUE(PumpUntil([&] { return !reports.answers.questions.empty(); }, 5s));
    EXPECT_EQ(reports.answers.questions[0], ExceptionText("far away", "Worker", 9));
    EXPECT_TRUE(PumpUntil([&] { return reports.Stops() == 1; }, 5s));
  }
}

}  // namespace
}  // namespace brindlex::testing
