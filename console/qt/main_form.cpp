#include "console/qt/main_form.h"

#include <malloc.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QStatusBar>

#include "console/qt/cache_page.h"
#include "console/qt/config_page.h"
#include "console/qt/connections_page.h"
#include "console/qt/console_application.h"
#include "console/qt/export_sheet.h"
#include "console/qt/filter_form.h"
#include "console/qt/filter_page.h"
#include "console/qt/localise.h"
#include "console/qt/monitor_page.h"
#include "console/qt/port_map_page.h"
#include "console/qt/relay_page.h"
#include "console/qt/restrictions_form.h"
#include "console/qt/send_email.h"
#include "console/qt/speed_window.h"
#include "console/qt/statistics_form.h"
#include "console/qt/ticket_form.h"
#include "console/qt/users_page.h"
#include "console/status_texts.h"
#include "console/users_export.h"
#include "core/clock.h"
#include "core/date_time.h"
#include "core/program_folder.h"
#include "core/report_exception.h"
#include "core/strings.h"
#include "reports/report_sender.h"

namespace brindlex {
namespace {

constexpr const char* kTimerModule = "MainTimer";

// The sender's texts that say what made a batch fail.
bool IsMailFailure(const std::string& text) {
  for (SmtpEvent event : {SmtpEvent::kConnectionFailed, SmtpEvent::kServerNotFound, SmtpEvent::kTransferFailed})
    if (text == SmtpStatusText(event, {})) return true;
  const std::string refused = SmtpStatusText(SmtpEvent::kRecipientRefused, "");
  return text == SenderTimeoutText() || text.starts_with(refused.substr(0, refused.size() - 1));
}

// The tray's picture, drawn rather than shipped: a white "B" on the
// program's blue.
QIcon TrayPicture() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(1, 1, 30, 30, 6, 6);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(22);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, "B");
  return QIcon(pixmap);
}

}  // namespace

TMainFormBX::TMainFormBX(ConsoleEngine& engine, MainFormCommands commands)
    : engine_(engine), commands_(std::move(commands)) {
  setObjectName("TMainFormBX");
  setWindowTitle(kApplicationTitle);
  setWindowIcon(TrayPicture());
  resize(900, 600);

  speedWindows_ = new SpeedWindows(engine_, this);
  statisticsWindows_ = new StatisticsWindows(engine_, this);
  pages_ = new QTabWidget(this);
  users_ = new UsersPage(engine_, *speedWindows_, pages_);
  connections_ = new ConnectionsPage(engine_, pages_);
  monitor_ = new MonitorPage(engine_, pages_);
  cache_ = new CachePage(engine_, pages_);
  pages_->addTab(users_, "#50");
  pages_->addTab(connections_, "#59");
  pages_->addTab(monitor_, "#60");
  pages_->addTab(cache_, "#61");
  config_ = new ConfigPage(
      engine_, [this] { users_->Rebuild(); }, pages_);
  pages_->addTab(config_, "#62");
  WireConfigPage();
  setCentralWidget(pages_);
  connect(pages_, &QTabWidget::currentChanged, this, &TMainFormBX::PageChosen);

  status_ = new QLabel(this);
  statusBar()->addWidget(status_, 1);
  link_ = new QLabel(this);
  link_->setObjectName("LinkLabel");
  statusBar()->addPermanentWidget(link_);

  tray_ = new QSystemTrayIcon(TrayPicture(), this);
  tray_->setToolTip(windowTitle());
  auto* menu = new QMenu(this);
  menu->addAction("#103", this, [this] { ShowFromTray(); });
  menu->addAction("#1334", this, [this] {
    if (commands_.reconnect) commands_.reconnect();
  });
  menu->addAction("#1315", this, [this] { AskStopGateway(); });
  menu->addAction("#104", this, [this] {
    if (commands_.closeConsole) commands_.closeConsole();
  });
  tray_->setContextMenu(menu);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) ShowFromTray();
  });
  WireUsersPage();
  engine_.SetMailStatusSink([this](const std::string& text) { MailStatus(text); });
  LocaliseCaptions(this);
  LocaliseCaptions(menu);
}

void TMainFormBX::WireUsersPage() {
  UsersPageHooks hooks;
  hooks.openStatistics = [this](const UsersGrid& grid, std::size_t row) {
    const UsersRow& kind = grid.Rows()[row];
    if (const ConsoleUser* user = grid.UserOf(row); user && !IsPeriodView(grid.Options().view)) {
      statisticsWindows_->OpenTicket(*user);
      return;
    }
    StatisticsWindowSubject subject;
    if (const ConsoleUser* user = grid.UserOf(row)) {
      subject = StatisticsSubjectOfUser(*user);
    } else if (kind.kind == UsersRowKind::kGroupTotal) {
      for (const ConsoleGroup& group : grid.Snapshot().groups)
        if (group.number == kind.groupNumber) subject = StatisticsSubjectOfGroup(group);
    }
    const auto dates = users_->Dates();
    if (!dates) return;
    statisticsWindows_->OpenPeriod(subject, LocalSecondsToDateTime(dates->first), LocalSecondsToDateTime(dates->last));
  };
  hooks.sendMessage = [this](const UsersGrid& grid, std::size_t row) {
    if (const ConsoleUser* user = grid.UserOf(row)) {
      TSendEmail dialog(engine_, user->id, user->name.empty() ? user->login : user->name, this);
      if (dialog.exec() == QDialog::Accepted) awaitingMail_ = true;
    }
  };
  hooks.exportTable = [this](const UsersGrid& grid) {
    ExportSheet(this, UsersExportLayout(UsersExportOf(grid, users_->Dates()), ProgramClock().LocalNow(),
                                        SystemDecimalSeparator()));
  };
  WireDialogs(hooks);
  users_->SetHooks(std::move(hooks));
}

// The editing windows other pages open: the subscription window from the
// users page, and the filter dialog of "Добавить в фильтр" from the monitor
// and the statistics windows.
// The configuration page's three lists and the restrictions dialog are
// widgets of their own; the page holds them and its editor loads and stores
// their lists with the page.
void TMainFormBX::WireConfigPage() {
  const auto mark = [this](int bits) { config_->ListPageChanged(bits); };
  auto* filters = new FilterPage(engine_, mark, config_);
  auto* relays = new RelayPage(engine_, mark, config_);
  auto* portMaps = new PortMapPage(engine_, mark, config_);
  config_->SetListPage(kPageFilters, filters);
  config_->SetListPage(kPageMail, relays);
  config_->SetListPage(kPagePortMapping, portMaps);
  config_->Editor().SetListPage(kPageFilters, &filters->Editor());
  config_->Editor().SetListPage(kPageMail, &relays->Editor());
  config_->Editor().SetListPage(kPagePortMapping, &portMaps->Editor());
  config_->SetRestrictionsDialog(
      [this](AccessRules& rules, bool) { return TAddRestF(rules, this).exec() == QDialog::Accepted; });
}

void TMainFormBX::WireDialogs(UsersPageHooks& hooks) {
  hooks.openTicket = [this](const UsersGrid& grid, std::size_t row) {
    if (const ConsoleUser* user = grid.UserOf(row))
      OpenTicketForm(
          engine_, user->id, [this] { users_->Rebuild(); }, this);
  };
  monitor_->SetFilterEditor(
      [this](const FilterRequest& request) { OpenFilterAddition(engine_, AdditionFromMonitor(request), this); });
  statisticsWindows_->SetHooks(
      [this](const StatisticsWindowSubject& subject, const FilterAddition& addition) {
        OpenFilterAddition(engine_, AdditionFromStatistics(subject, addition), this);
      },
      [this](const StatisticsWindow& window) {
        const auto rows = window.Rows();
        ExportSheet(this,
                    StatisticsExportLayout({rows, window.Totals(), window.Caption(), window.Level(), window.TrafficForm()},
                                           ProgramClock().LocalNow(), SystemDecimalSeparator()));
      });
}

void TMainFormBX::PageChosen(int index) {
  if (turningBack_) return;
  const int left = shownPage_;
  // A changed configuration that could not be applied keeps its page; a
  // configuration page that was not unlocked sends the window to the first.
  int refusedTo = -1;
  if (pages_->widget(left) == config_ && !config_->Leave())
    refusedTo = left;
  else if (pages_->widget(index) == config_ && !config_->Enter())
    refusedTo = 0;
  if (refusedTo >= 0 && refusedTo != index) {
    turningBack_ = true;
    pages_->setCurrentIndex(refusedTo);
    turningBack_ = false;
    index = refusedTo;
  }
  shownPage_ = index;
  if (pages_->widget(left) == config_ && index != left) ShowBackground();
  // The cache page holds its copy of the index only while it is showing.
  if (pages_->widget(index) == cache_)
    cache_->Refresh();
  else
    cache_->Release();
  if (pages_->widget(index) == connections_) connections_->Repaint();
}

TMainFormBX::~TMainFormBX() = default;

// The console's side of the main timer: its steps carry the numbers of the
// gateway's tick, so that a report names the same step on both sides.
ConsoleRefresh TMainFormBX::Refresh() {
  return ConsoleRefresh{
      [this] {
        HandlerStep step(kTimerModule, 1);
        connections_->Repaint();
      },
      [this] { PerSecond(); },
      [this] {
        HandlerStep step(kTimerModule, 74);
        users_->Rebuild();
      },
      [this] {
        HandlerStep step(kTimerModule, 76);
        TrayUpkeep();
      },
      [this] {
        HandlerStep step(kTimerModule, 78);
        speedWindows_->Repaint();
      },
  };
}

void TMainFormBX::ShowFromTray() {
  // A modal dialog keeps the window disabled: bring that one forward instead.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->raise();
    modal->activateWindow();
    return;
  }
  showNormal();
  raise();
  activateWindow();
  ShowBackground();
  users_->Rebuild();
}

void TMainFormBX::ShowBackground() {
  const std::vector<ConfigControlValue> values = engine_.ConfigValues({"EdBackground"});
  QString path = values.empty() ? QString() : QString::fromStdString(values.front().text).trimmed();
  // A bare name lies in the program folder, where the picture button starts.
  if (!path.isEmpty() && QFileInfo(path).isRelative())
    path = QDir(QString::fromStdString(ProgramFolder())).filePath(path);
  QPixmap picture;
  if (!path.isEmpty() && !picture.load(path)) path.clear();
  if (path == backgroundPath_) return;
  backgroundPath_ = path;
  // Tiled under the rows: the grids' base is the picture, their cells stay
  // clear unless a row has a colour of its own.
  for (QWidget* page : {static_cast<QWidget*>(users_), static_cast<QWidget*>(connections_),
                        static_cast<QWidget*>(monitor_), static_cast<QWidget*>(cache_)}) {
    for (QAbstractItemView* view : page->findChildren<QAbstractItemView*>()) {
      QPalette colours = view->palette();
      if (path.isEmpty())
        colours.setBrush(QPalette::Base, QApplication::palette(view).brush(QPalette::Base));
      else
        colours.setBrush(QPalette::Base, QBrush(picture));
      view->setPalette(colours);
    }
  }
}

void TMainFormBX::closeEvent(QCloseEvent* event) {
  // Closing only hides: the gateway goes on serving from the tray (on a
  // desktop without one the window goes to the task bar instead).
  event->ignore();
  // A changed configuration is saved or dropped first; one that cannot be
  // applied keeps the window open.
  if (isVisible() && pages_->currentWidget() == config_ && !config_->Leave()) return;
  speedWindows_->CloseAll();
  statisticsWindows_->CloseAll();
  if (QSystemTrayIcon::isSystemTrayAvailable())
    hide();
  else
    showMinimized();
  malloc_trim(0);
}

void TMainFormBX::PerSecond() {
  HandlerStep step(kTimerModule, 71);
  connections_->Second();
  step.Set(72);
  status_->setText(
      QString::fromStdString(StatusBarText(engine_.Status(), engine_.SpeedHistory(SpeedSubject::kProgram, 0))));
  step.Set(73);
  cache_->UpdateLabels();
}

// The sender's progress goes to the status bar. While a message the
// administrator sent is on its way, the failure of its batch ("Ошибок: n",
// after the text of what failed) is a box as well.
void TMainFormBX::MailStatus(const std::string& text) {
  statusBar()->showMessage(QString::fromStdString(text), 5000);
  if (!awaitingMail_) return;
  static const std::string sent = SmtpStatusText(SmtpEvent::kMessageSent, {});
  static const std::string failedBatch = FailedBatchesText(0).substr(0, FailedBatchesText(0).size() - 2);
  if (text == sent) {
    awaitingMail_ = false;
  } else if (text.starts_with(failedBatch)) {
    awaitingMail_ = false;
    QMessageBox::warning(isVisible() ? this : nullptr, kApplicationTitle,
                         QString::fromStdString(StrWith(1426, lastMailError_)));
  } else if (IsMailFailure(text)) {
    lastMailError_ = text;
  }
}

void TMainFormBX::TrayUpkeep() {
  // A tray that comes back (the panel restarted) gets the icon again.
  if (QSystemTrayIcon::isSystemTrayAvailable() && !tray_->isVisible()) tray_->show();
}

void TMainFormBX::AskStopGateway() {
  // Everybody's Internet hangs on the answer: "Нет" is what Enter gives.
  const auto answer =
      QMessageBox::question(isVisible() ? this : nullptr, windowTitle(), QString::fromStdString(Str(1316)),
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  if (answer == QMessageBox::Yes && commands_.stopGateway) commands_.stopGateway();
}

void TMainFormBX::SetLinkText(const std::string& text, bool up) {
  link_->setText(QString::fromStdString(text));
  link_->setStyleSheet(up ? QString() : QStringLiteral("color: #b00000"));
  tray_->setToolTip(windowTitle() + "\n" + QString::fromStdString(text));
  // The setting is the gateway's: known once the link is up.
  if (up) ShowBackground();
}

}  // namespace brindlex
