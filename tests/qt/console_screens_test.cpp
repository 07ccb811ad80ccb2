// Every page and dialog of the console as the administrator first sees it,
// attached to a real gateway with a few users, two groups, a port mapping
// and some traffic: nothing lies outside its window, no caption is cut, no
// text is English, numbers stand to the right of their cells. With
// BRINDLEX_SCREENSHOTS naming a folder, each is saved there as a PNG for a
// person to look at (scripts/console-screenshots.sh).
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSysInfo>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <cmath>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

#include "console/config_editor.h"
#include "console/qt/cache_page.h"
#include "console/qt/calendar_form.h"
#include "console/qt/config_page.h"
#include "console/qt/connections_page.h"
#include "console/qt/file_dialogs.h"
#include "console/qt/filter_form.h"
#include "console/qt/in_password.h"
#include "console/qt/localise.h"
#include "console/qt/monitor_page.h"
#include "console/qt/port_map_form.h"
#include "console/qt/port_map_page.h"
#include "console/qt/range_form.h"
#include "console/qt/relay_form.h"
#include "console/qt/restrictions_form.h"
#include "console/qt/send_email.h"
#include "console/qt/speed_window.h"
#include "console/qt/statistics_form.h"
#include "console/qt/ticket_form.h"
#include "console/qt/users_page.h"
#include "console/qt/wait_window.h"
#include "console/text_list.h"
#include "core/clock.h"
#include "core/date_time.h"
#include "core/groups.h"
#include "core/ini_file.h"
#include "core/strings.h"
#include "core/users.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/origin.h"
#include "tests/qt/attached_gateway.h"
#include "tests/unit/console_fake_engine.h"

namespace brindlex::testing {
namespace {

// Latin words a Russian console may show: names of protocols, units and
// formats, and the few texts quoted as they are ("OK", "Any", the filter
// of the configuration copies, "Excel", the gateway's own command line).
const std::set<QString> kAllowedLatin = {
    "HTTP",
    "HTTPS",
    "FTP",
    "SMTP",
    "POP3",
    "SOCKS5",
    "Socks5",
    "DNS",
    "PortMap",
    "URL",
    "IP",
    "MAC",
    "TCP",
    "UDP",
    "TLS",
    "wpad" /* the name browsers ask for their proxy settings */,
    "KB",
    "MB",
    "OK",
    "Any",
    "HOSTS",
    "INI",
    "ini",
    "bmp",
    "Excel",
    "GET",
    "cookie",
    "Default" /* the name group 0 starts with */,
    // The kinds of filter entries and the listener's report, as the
    // gateway's files and log name them.
    "Host",
    "Resource",
    "Extension",
    "Ok",
    "Error",
    // The filter of configuration copies: "INI files (*.ini)".
    "files",
    "brindlex",
    "admin",
    "fingerprint",
    "retally",
    "txt",
    "xlsx",
    "Brindlex",
};

// What the toolkit says when it is left in English.
const std::set<QString> kToolkitEnglish = {
    "Cancel", "Yes",  "No",    "Open",  "Save",    "Close",   "Apply",    "Look",     "File",
    "Files",  "name", "type",  "Back",  "Forward", "Parent",  "Create",   "Folder",   "Detail",
    "View",   "List", "Name",  "Size",  "Type",    "Date",    "Modified", "Computer", "Directory",
    "Reset",  "Help", "Abort", "Retry", "Ignore",  "Discard", "Restore",  "Defaults", "Choose",
};

// Names of this machine and of whoever runs the console: data, whatever
// their letters.
bool MachineName(const QString& word) {
  return word == QSysInfo::machineHostName() || word == qEnvironmentVariable("USER") || word == "root";
}

bool LatinWord(const QString& word) {
  for (QChar c : word)
    if (!(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z')) return false;
  return !word.isEmpty();
}

// The English words of one shown text. A word with digits, dots, slashes,
// '@', ':' or '_' is data (an address, a path, a URL, a log keyword) and
// not read as language.
QStringList EnglishWords(const QString& text) {
  QStringList english;
  QString plain = text;
  plain.remove('&');
  static const QRegularExpression spaces(R"([\s,;()\[\]{}"'«»|!?=+*<>]+)");
  for (const QString& token : plain.split(spaces, Qt::SkipEmptyParts)) {
    static const QRegularExpression data(R"([0-9./@:_\\%#~])");
    if (token.contains(data)) continue;
    if (token.compare("e-mail", Qt::CaseInsensitive) == 0 || token == "DNS-forward") continue;
    for (const QString& word : token.split('-', Qt::SkipEmptyParts)) {
      if (kToolkitEnglish.count(word) != 0) {
        english << word;
        continue;
      }
      if (word.size() < 2 || !LatinWord(word) || kAllowedLatin.count(word) != 0 || MachineName(word)) continue;
      english << word;
    }
  }
  return english;
}

bool InsideScrolledViewport(QWidget* widget, QWidget* window) {
  for (QWidget* w = widget->parentWidget(); w != nullptr && w != window; w = w->parentWidget())
    if (auto* area = qobject_cast<QAbstractScrollArea*>(w->parentWidget()); area != nullptr && area->viewport() == w)
      return true;
  return false;
}

QString Where(QWidget* widget) {
  return QString("%1 \"%2\"").arg(widget->metaObject()->className(), widget->objectName());
}

// Every text the window shows: its title, captions, tab and header texts,
// list entries and the cells of its grids.
std::vector<std::pair<QString, QString>> ShownTexts(QWidget* window) {
  std::vector<std::pair<QString, QString>> texts{{window->windowTitle(), "title"}};
  // The commands of its menus (a grid's pop-up menu, the tray's), shown or
  // not yet.
  for (QMenu* menu : window->findChildren<QMenu*>())
    for (QAction* action : menu->actions()) texts.push_back({action->text(), "menu " + menu->objectName()});
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) texts.push_back({label->text(), Where(w)});
    if (auto* button = qobject_cast<QAbstractButton*>(w)) texts.push_back({button->text(), Where(w)});
    if (auto* box = qobject_cast<QGroupBox*>(w)) texts.push_back({box->title(), Where(w)});
    if (auto* tabs = qobject_cast<QTabBar*>(w))
      for (int i = 0; i < tabs->count(); ++i) texts.push_back({tabs->tabText(i), Where(w)});
    if (auto* combo = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < combo->count(); ++i) texts.push_back({combo->itemText(i), Where(w)});
    if (auto* edit = qobject_cast<QLineEdit*>(w)) texts.push_back({edit->placeholderText(), Where(w)});
    if (auto* header = qobject_cast<QHeaderView*>(w); header != nullptr && header->model() != nullptr)
      for (int i = 0; i < header->count(); ++i)
        if (!header->isSectionHidden(i))
          texts.push_back({header->model()->headerData(i, header->orientation()).toString(), Where(w)});
    // The folders and files a file dialog lists are this machine's, not the
    // console's texts.
    if (auto* view = qobject_cast<QAbstractItemView*>(w); view != nullptr && view->model() != nullptr &&
                                                          qobject_cast<QHeaderView*>(w) == nullptr &&
                                                          qobject_cast<QFileSystemModel*>(view->model()) == nullptr) {
      std::function<void(const QModelIndex&, int)> walk = [&](const QModelIndex& parent, int depth) {
        const QAbstractItemModel* model = view->model();
        for (int row = 0; row < std::min(model->rowCount(parent), 200); ++row)
          for (int column = 0; column < model->columnCount(parent); ++column) {
            const QModelIndex index = model->index(row, column, parent);
            texts.push_back({index.data().toString(), Where(w)});
            if (column == 0 && depth < 4) walk(index, depth + 1);
          }
      };
      walk(QModelIndex(), 0);
    }
  }
  return texts;
}

// A text wider than the room its widget has is cut on the screen.
void ExpectNotCut(QWidget* w, const std::string& name) {
  const QFontMetrics metrics = w->fontMetrics();
  if (auto* label = qobject_cast<QLabel*>(w)) {
    if (label->wordWrap() || label->text().isEmpty() || Qt::mightBeRichText(label->text()) || !label->pixmap().isNull())
      return;
    int widest = 0;
    for (const QString& line : label->text().split('\n')) widest = std::max(widest, metrics.horizontalAdvance(line));
    EXPECT_LE(widest, label->contentsRect().width() + 1)
        << name << ": " << Where(w).toStdString() << " cuts \"" << label->text().toStdString() << "\"";
    return;
  }
  if (auto* button = qobject_cast<QAbstractButton*>(w); button != nullptr && !button->text().isEmpty()) {
    QString text = button->text();
    text.remove('&');
    const int room = qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr
                         ? button->width() - 16
                         : button->width() - 4;
    EXPECT_LE(metrics.horizontalAdvance(text), room)
        << name << ": " << Where(w).toStdString() << " cuts \"" << text.toStdString() << "\"";
  }
}

// A number in a grid cell stands to the right, so that its digits line up
// with the row's above and below.
void ExpectNumbersRight(QTableWidget* table, const std::string& name) {
  static const QRegularExpression number(R"(^-?[0-9][0-9 \x{00a0}]*([.,][0-9]+)?( ?\(.*\))?$)");
  for (int row = 0; row < std::min(table->rowCount(), 200); ++row)
    for (int column = 0; column < table->columnCount(); ++column) {
      const QTableWidgetItem* item = table->item(row, column);
      if (item == nullptr || !number.match(item->text().trimmed()).hasMatch()) continue;
      EXPECT_TRUE(item->textAlignment() & Qt::AlignRight) << name << ": \"" << item->text().toStdString() << "\" at "
                                                          << row << "," << column << " is not right-aligned";
    }
}

// The window as drawn, under a strip with its caption: the offscreen
// platform draws no title bar, and the caption is part of what is shown.
QImage Framed(QWidget* window) {
  const QPixmap inside = window->grab();
  const QFontMetrics metrics = window->fontMetrics();
  const int strip = metrics.height() + 8;
  QImage framed(inside.width(), inside.height() + strip, QImage::Format_RGB32);
  framed.fill(QColor(0x1f, 0x5f, 0xa8));
  QPainter painter(&framed);
  painter.setFont(window->font());
  painter.setPen(Qt::white);
  painter.drawText(QRect(8, 0, inside.width() - 16, strip), Qt::AlignLeft | Qt::AlignVCenter,
                   metrics.elidedText(window->windowTitle(), Qt::ElideRight, inside.width() - 16));
  painter.drawPixmap(0, strip, inside);
  return framed;
}

// The checks every page and dialog gets, and its picture when asked for
// (and `picture` is set).
void Inspect(QWidget* window, const std::string& name, bool picture = true) {
  QApplication::processEvents();
  ASSERT_TRUE(window->isVisible()) << name;
  SCOPED_TRACE(name);
  const QRect frame = window->rect();
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisible() || w->isWindow() || InsideScrolledViewport(w, window)) continue;
    const QRect place(w->mapTo(window, QPoint(0, 0)), w->size());
    EXPECT_TRUE(frame.contains(place)) << name << ": " << Where(w).toStdString() << " at " << place.x() << ","
                                       << place.y() << " " << place.width() << "x" << place.height() << " outside "
                                       << frame.width() << "x" << frame.height();
    ExpectNotCut(w, name);
    // A month's days stand in the middle of their cells, as on a calendar.
    if (auto* table = qobject_cast<QTableWidget*>(w);
        table != nullptr && qobject_cast<TCalendarForm*>(window) == nullptr)
      ExpectNumbersRight(table, name);
  }
  static const QRegularExpression caption(R"(^#[0-9]+$)");
  for (const auto& [text, where] : ShownTexts(window)) {
    EXPECT_FALSE(caption.match(text).hasMatch()) << name << ": " << where.toStdString() << " shows the caption "
                                                 << text.toStdString() << " not replaced by its text";
    const QStringList english = EnglishWords(text);
    EXPECT_TRUE(english.isEmpty()) << name << ": " << where.toStdString() << " shows \"" << text.toStdString() << "\" ("
                                   << english.join(", ").toStdString() << ")";
  }
  const QByteArray folder = qgetenv("BRINDLEX_SCREENSHOTS");
  if (folder.isEmpty() || !picture) return;
  QDir().mkpath(QString::fromLocal8Bit(folder));
  EXPECT_TRUE(
      Framed(window).save(QString("%1/%2.png").arg(QString::fromLocal8Bit(folder), QString::fromStdString(name))));
}

// Inspects the next modal window that `open` brings up, then closes it the
// way Escape would.
void InspectModal(const std::function<void()>& open, const std::string& name) {
  bool seen = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || seen) return;
    seen = true;
    timer.stop();
    Inspect(modal, name);
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->reject();
    else
      modal->close();
  });
  timer.start(20);
  open();
  EXPECT_TRUE(seen) << name << " did not come up";
}

void InspectShown(QWidget* window, const std::string& name) {
  window->show();
  QTest::qWait(50);
  Inspect(window, name);
  window->close();
}

std::string Accounts(int mappedPort) {
  IniDocument document;
  WriteGroup(MakeDefaultGroup(), document);
  GroupRecord office = MakeDefaultGroup();
  office.number = 1;
  office.name = "Бухгалтерия";
  WriteGroup(office, document);
  UserRecord anna = AddressUser("127.0.0.1", "Анна Сидорова");
  anna.groupNumber = 1;
  StoreUser(anna, document);
  UserRecord petr = AddressUser("127.0.0.2", "Пётр Петров");
  StoreUser(petr, document);
  UserRecord olga = AddressUser("127.0.0.3", "Ольга Козлова");
  olga.groupNumber = 1;
  olga.rules.prepaid = true;  // works against subscriptions
  StoreUser(olga, document);
  return FormatIni(document) + "[PortMapping]\r\nПочта=0; 0.0.0.0; 0.0.0.0; 0.0.0.0; " + std::to_string(mappedPort) +
         "; 127.0.0.1; 25; 0; ; 1; 0;\r\n";
}

class ConsoleScreens : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallRussianTranslations(QCoreApplication::instance()); }
};

TEST_F(ConsoleScreens, EveryPageAndDialogFitsItsWindowAndSpeaksRussian) {
  NginxOrigin origin;
  origin.Serve("page.html", std::string(40000, 'p'));
  origin.Serve("big.bin", std::string(700000, 'b'));
  origin.extraServerConfig = "location = /slow.bin { limit_rate 20k; }";
  origin.Serve("slow.bin", std::string(400000, 's'));
  ASSERT_TRUE(origin.Start());
  AttachedWindow attached("EnableLoopbackTargets=1\r\nEnableCach=1\r\nCachLocalHosts=1\r\n", Accounts(FreePort()));
  ASSERT_TRUE(attached.up) << attached.gateway.process->Output();
  TMainFormBX& form = attached.form;
  // Some traffic so that the grids show numbers.
  for (const char* file : {"page.html", "big.bin", "page.html"}) {
    int code = 0;
    Curl(attached.gateway.Proxy(), "http://127.0.0.1:" + std::to_string(origin.port()) + "/" + file, &code);
    EXPECT_EQ(code, 0);
  }
  // And one still going while the pages are looked at, so that the
  // connections page has a line under its session.
  const std::string slowUrl = "http://127.0.0.1:" + std::to_string(origin.port()) + "/slow.bin";
  auto slow = std::async(std::launch::async, [proxy = attached.gateway.Proxy(), slowUrl] {
    int code = 0;
    return Curl(proxy, slowUrl, &code, "--max-time 10").size();
  });
  form.Users()->Rebuild();
  QTest::qWait(1500);

  Inspect(&form, "main_users");
  // The users page's other views: a day, a range of dates, the
  // subscriptions used and what is left of them.
  {
    QTabBar* periods = nullptr;
    QTabBar* ticketTabs = nullptr;
    for (QTabBar* bar : form.Users()->findChildren<QTabBar*>()) {
      if (bar->count() == 4) periods = bar;
      if (bar->count() == 2) ticketTabs = bar;
    }
    ASSERT_NE(periods, nullptr);
    ASSERT_NE(ticketTabs, nullptr);
    // A view that asks for dates is answered with what it proposes.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->accept();
    });
    answer.start(20);
    for (int view = 1; view < 4; ++view) {
      periods->setCurrentIndex(view);
      QTest::qWait(200);
      Inspect(&form, "main_users_view" + std::to_string(view));
    }
    ticketTabs->setCurrentIndex(1);
    QTest::qWait(200);
    Inspect(&form, "main_users_view4");
    ticketTabs->setCurrentIndex(0);
    periods->setCurrentIndex(0);
    QTest::qWait(100);
  }
  form.Pages()->setCurrentWidget(form.Connections());
  Inspect(&form, "main_connections");
  form.Pages()->setCurrentWidget(form.Monitor());
  Inspect(&form, "main_monitor");
  form.Pages()->setCurrentWidget(form.CacheView());
  QTest::qWait(100);
  Inspect(&form, "main_cache");
  form.Pages()->setCurrentWidget(form.Config());
  ASSERT_EQ(form.Pages()->currentWidget(), form.Config());
  // Every node of the configuration tree: the settings pages, the lists,
  // every group and every user.
  // Choosing a node may build the tree again: its items are looked up anew
  // each time.
  const auto nodes = [&] {
    std::vector<QTreeWidgetItem*> items;
    for (QTreeWidgetItemIterator it(form.Config()->Tree()); *it != nullptr; ++it) items.push_back(*it);
    return items;
  };
  const std::size_t nodeCount = nodes().size();
  std::set<QString> tabKinds;
  ASSERT_GT(nodeCount, 10u);
  for (std::size_t i = 0; i < nodeCount; ++i) {
    ASSERT_LT(i, nodes().size());
    form.Config()->Tree()->setCurrentItem(nodes()[i]);
    char name[32];
    std::snprintf(name, sizeof(name), "config_%02zu", i);
    Inspect(&form, name);
    // The further tabs of a group's or a user's page: every one checked,
    // the first group's and the first user's pictured.
    for (QTabWidget* tabs : form.Config()->findChildren<QTabWidget*>()) {
      if (!tabs->isVisible()) continue;
      QString kinds;
      for (int tab = 0; tab < tabs->count(); ++tab) kinds += tabs->tabText(tab) + '|';
      const bool firstOfItsKind = tabKinds.insert(kinds).second;
      for (int tab = 1; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        Inspect(&form, std::string(name) + "_tab" + std::to_string(tab), firstOfItsKind);
      }
      tabs->setCurrentIndex(0);
    }
  }
  form.Pages()->setCurrentWidget(form.Users());

  // The windows the views open.
  ConsoleEngine& engine = attached.link.Engine();
  const UsersSnapshot users = engine.Users();
  const ConsoleUser* anna = nullptr;
  const ConsoleUser* olga = nullptr;
  for (const ConsoleUser& user : users.users) {
    if (user.name == "Анна Сидорова") anna = &user;
    if (user.name == "Ольга Козлова") olga = &user;
  }
  ASSERT_NE(anna, nullptr);
  ASSERT_NE(olga, nullptr);
  const double today = std::floor(LocalSecondsToDateTime(ProgramClock().LocalNow()));
  TForm3* everybody = form.Statistics()->OpenPeriod(StatisticsWindowSubject{}, today - 8, today);
  ASSERT_NE(everybody, nullptr);
  QTest::qWait(300);
  Inspect(everybody, "statistics");
  everybody->close();
  TForm4* speed = form.Speed()->Open(SpeedTarget{SpeedSubject::kProgram, 0, ""});
  QTest::qWait(1100);
  Inspect(speed, "speed");
  speed->close();

  TSendEmail mail(engine, anna->id, anna->name, &form);
  InspectShown(&mail, "send_email");
  EXPECT_EQ(mail.windowTitle().toStdString(), "Отправить письмо для пользователя «Анна Сидорова»");
  TTicketForm ticket(
      engine, olga->id, [] {}, &form);
  InspectShown(&ticket, "ticket");
  EXPECT_EQ(ticket.windowTitle().toStdString(), Str(1300) + " 'Ольга Козлова' (открыть)");
  TFormFilter filter(
      "", 0, [](const std::string&, int) { return true; }, &form);
  InspectShown(&filter, "filter");
  TFormRangeA range(AddPrompt("LbUsersAddrs"), "", &form);
  InspectShown(&range, "range");
  auto* portMaps = form.Config()->findChild<PortMapPage*>();
  ASSERT_NE(portMaps, nullptr);
  TFormPortMap portMap(portMaps->Editor(), portMaps->Editor().NewDialog(), -1, &form);
  InspectShown(&portMap, "port_map");
  TFormRelayEdit relay(
      MailRuleFields{}, [](MailRuleFields&) { return MailRuleCheck{}; }, &form);
  InspectShown(&relay, "relay");
  AccessRules rules;
  TAddRestF restrictions(rules, &form);
  InspectShown(&restrictions, "restrictions");
  InspectShown(form.Config()->PasswordDialog(), "password");
  TPlsWaitForm wait(&form);
  wait.show();
  wait.Show("01-12-26-Brindlex.lgs", 300, 1000, 3000, 10000);
  Inspect(&wait, "wait");
  wait.close();
  TCalendarForm calendar(&form);
  InspectModal([&] { calendar.Pick(1764547200); }, "calendar");

  // The toolkit's own windows: the file dialog and a question box.
  // Started in the gateway's program folder, as the configuration page does.
  InspectModal([&] { ChooseFile(&form, AccountCopyDialog(attached.gateway.home), true); }, "file_save");
  InspectModal([&] { ChooseFile(&form, BackgroundFileDialog(attached.gateway.home), false); }, "file_open");
  InspectModal(
      [&] {
        QMessageBox::question(&form, "Brindlex", QString::fromStdString(Str(1316)), QMessageBox::Yes | QMessageBox::No);
      },
      "question");
}

TEST_F(ConsoleScreens, TheToolkitsButtonsSpeakRussian) {
  QMessageBox box(QMessageBox::Question, "Brindlex", "?",
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Save);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove('&').toStdString(), "Да");
  EXPECT_EQ(box.button(QMessageBox::No)->text().remove('&').toStdString(), "Нет");
  EXPECT_EQ(box.button(QMessageBox::Ok)->text().remove('&').toStdString(), Str(202));
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove('&').toStdString(), "Отмена");
  EXPECT_EQ(box.button(QMessageBox::Save)->text().remove('&').toStdString(), "Сохранить");
  // The file dialog's own labels come from the toolkit's translations.
  QFileDialog files(nullptr, QString(), QDir::tempPath());
  files.setOption(QFileDialog::DontUseNativeDialog);
  files.setAcceptMode(QFileDialog::AcceptSave);
  files.show();
  QApplication::processEvents();
  QStringList english;
  for (const auto& [text, where] : ShownTexts(&files)) english << EnglishWords(text);
  EXPECT_TRUE(english.isEmpty()) << english.join(", ").toStdString();
  files.close();
}

TEST_F(ConsoleScreens, TheBackgroundPictureLiesUnderTheViews) {
  // A green picture: wherever the grid has no row, green shows through.
  const auto green = [](const std::string& path) {
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    return picture.save(QString::fromStdString(path), "BMP");
  };
  const auto colourUnderRows = [](TMainFormBX& form) {
    // Below the last row the grid shows nothing but its base.
    auto* grid = form.Users()->findChild<QTableWidget*>();
    const QImage shot = grid->viewport()->grab().toImage();
    return shot.pixelColor(shot.width() - 3, shot.height() - 3);
  };
  const std::string startPicture =
      QDir::tempPath().toStdString() + "/brindlex-фон-" + std::to_string(QCoreApplication::applicationPid()) + ".bmp";
  ASSERT_TRUE(green(startPicture));
  {
    // Named in the settings from the start: there once the link is up.
    AttachedWindow attached("Background=" + startPicture + "\r\n",
                            AccountSections({AddressUser("127.0.0.1", "Анна Сидорова")}));
    ASSERT_TRUE(attached.up);
    QApplication::processEvents();
    EXPECT_EQ(colourUnderRows(attached.form), QColor(10, 200, 30));
  }
  QFile::remove(QString::fromStdString(startPicture));

  AttachedWindow attached("", AccountSections({AddressUser("127.0.0.1", "Анна Сидорова")}));
  ASSERT_TRUE(attached.up);
  const QString path = QString::fromStdString(attached.gateway.home) + "/фон.bmp";
  ASSERT_TRUE(green(path.toStdString()));
  const auto colourUnderRowsNow = [&] { return colourUnderRows(attached.form); };
  EXPECT_NE(colourUnderRowsNow(), QColor(10, 200, 30));

  // The administrator names the picture on the configuration page and
  // applies; back on the users page it is there.
  ASSERT_TRUE(attached.link.Engine()
                  .ApplyConfigControls({ConfigControlValue{"EdBackground", path.toStdString(), {}, {}}}, 256)
                  .ok);
  attached.form.Pages()->setCurrentWidget(attached.form.Config());
  attached.form.Pages()->setCurrentWidget(attached.form.Users());
  QApplication::processEvents();
  EXPECT_EQ(colourUnderRowsNow(), QColor(10, 200, 30));

  // A name that is no picture takes it away again.
  ASSERT_TRUE(attached.link.Engine()
                  .ApplyConfigControls({ConfigControlValue{"EdBackground", "нет такого.bmp", {}, {}}}, 256)
                  .ok);
  attached.form.Pages()->setCurrentWidget(attached.form.Config());
  attached.form.Pages()->setCurrentWidget(attached.form.Users());
  QApplication::processEvents();
  EXPECT_NE(colourUnderRowsNow(), QColor(10, 200, 30));
}

TEST_F(ConsoleScreens, WindowsOpenOnTheScreenOverTheMainWindow) {
  FakeConsoleEngine engine;
  engine.speed = SpeedSlots(300, 2048);
  TMainFormBX form(engine, MainFormCommands{});
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  // The main window pushed towards the lower right corner, partly off.
  form.resize(600, 400);
  form.move(screen.right() - 300, screen.bottom() - 200);
  form.show();
  QApplication::processEvents();
  const QPoint mainCentre = form.frameGeometry().center();

  std::vector<QWidget*> opened;
  opened.push_back(form.Speed()->Open(SpeedTarget{SpeedSubject::kProgram, 0, ""}));
  opened.push_back(form.Speed()->Open(SpeedTarget{SpeedSubject::kGroup, 0, "Default"}));
  opened.push_back(form.Statistics()->OpenPeriod(StatisticsWindowSubject{}, 46000, 46001));
  QApplication::processEvents();
  for (QWidget* window : opened) {
    ASSERT_NE(window, nullptr);
    SCOPED_TRACE(window->objectName().toStdString());
    const QRect frame = window->frameGeometry();
    EXPECT_TRUE(screen.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                        << frame.height();
    // As near the main window as the screen allows: towards its corner,
    // not where the toolkit would put it by itself.
    EXPECT_GT(frame.right(), screen.center().x());
    EXPECT_GT(frame.bottom(), screen.center().y());
    EXPECT_LE((frame.center() - mainCentre).manhattanLength(), (screen.center() - mainCentre).manhattanLength());
  }
  // A second window does not hide the first one exactly.
  EXPECT_NE(opened[0]->frameGeometry().topLeft(), opened[1]->frameGeometry().topLeft());
  for (QWidget* window : opened) window->close();
}

}  // namespace
}  // namespace brindlex::testing
