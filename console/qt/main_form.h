// The console's main window: the pages of users, connections, the monitor,
// the cache and the configuration, the status bar and the tray icon. Closing it only hides it; the
// tray menu's "Закрыть" ends the console (never the gateway), and stopping the gateway is a command of
// its own behind a question that says what it costs.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <functional>

#include "console/console_engine.h"

namespace brindlex {

// What the gateway asks of the views, each on the console's thread.
struct ConsoleRefresh {
  std::function<void()> repaintTree;
  std::function<void()> perSecondViews;
  std::function<void()> rebuildUsersView;
  std::function<void()> trayUpkeep;
  std::function<void()> repaintSpeedWindows;
};

// The program's commands the window offers besides the engine's.
struct MainFormCommands {
  std::function<void()> closeConsole;
  std::function<void()> stopGateway;  // asked after the question was answered "Да"
  // Tries the gateway again after the link gave up (a certificate not
  // trusted, a password not given).
  std::function<void()> reconnect;
};

class UsersPage;
struct UsersPageHooks;
class ConnectionsPage;
class MonitorPage;
class CachePage;
class ConfigPage;
class SpeedWindows;
class StatisticsWindows;

class TMainFormBX final : public QMainWindow {
  Q_OBJECT

 public:
  TMainFormBX(ConsoleEngine& engine, MainFormCommands commands);
  ~TMainFormBX() override;
  ConsoleRefresh Refresh();
  void ShowFromTray();
  // Which gateway the window shows and whether the link to it is up, in the
  // status bar; the tray's tip says the same.
  void SetLinkText(const std::string& text, bool up);

  QTabWidget* Pages() { return pages_; }
  UsersPage* Users() { return users_; }
  ConnectionsPage* Connections() { return connections_; }
  MonitorPage* Monitor() { return monitor_; }
  CachePage* CacheView() { return cache_; }
  ConfigPage* Config() { return config_; }
  StatisticsWindows* Statistics() { return statisticsWindows_; }
  SpeedWindows* Speed() { return speedWindows_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void PerSecond();
  void TrayUpkeep();
  void AskStopGateway();
  void WireUsersPage();
  void WireDialogs(UsersPageHooks& hooks);
  void PageChosen(int index);
  // The picture of the `Background` setting behind the grids of the four
  // views, read again when the link comes up, when the window is shown and
  // when the configuration page is left (its apply may have named another);
  // none when the file is missing or no picture.
  void ShowBackground();
  void WireConfigPage();
  void MailStatus(const std::string& text);

  ConsoleEngine& engine_;
  MainFormCommands commands_;
  QTabWidget* pages_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* link_ = nullptr;
  UsersPage* users_ = nullptr;
  ConnectionsPage* connections_ = nullptr;
  MonitorPage* monitor_ = nullptr;
  CachePage* cache_ = nullptr;
  ConfigPage* config_ = nullptr;
  int shownPage_ = 0;
  bool turningBack_ = false;  // a refused page change is being undone
  QString backgroundPath_;     // the picture shown, "" for none
  SpeedWindows* speedWindows_ = nullptr;
  StatisticsWindows* statisticsWindows_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  // A message the administrator sent is on its way: a batch that fails is
  // then a box, not only a status text.
  bool awaitingMail_ = false;
  std::string lastMailError_;
};

}  // namespace brindlex
