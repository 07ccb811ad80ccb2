// The console's main window: the pages of users, connections, the monitor,
// the cache and the configuration, the status bar and the tray icon. Closing it only hides it; the
// tray menu's "Закрыть" ends the program after a question.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <functional>

#include "console/console_engine.h"
#include "console/qt/desktop_console.h"

namespace brindlex {

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
  TMainFormBX(ConsoleEngine& engine, std::function<void()> exit);
  ~TMainFormBX() override;
  ConsoleRefresh Refresh();
  void ShowFromTray();

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
  void AskExit();
  void WireUsersPage();
  void WireDialogs(UsersPageHooks& hooks);
  void PageChosen(int index);
  void WireConfigPage();

  ConsoleEngine& engine_;
  std::function<void()> exit_;
  QTabWidget* pages_ = nullptr;
  QLabel* status_ = nullptr;
  UsersPage* users_ = nullptr;
  ConnectionsPage* connections_ = nullptr;
  MonitorPage* monitor_ = nullptr;
  CachePage* cache_ = nullptr;
  ConfigPage* config_ = nullptr;
  int shownPage_ = 0;
  bool turningBack_ = false;  // a refused page change is being undone
  SpeedWindows* speedWindows_ = nullptr;
  StatisticsWindows* statisticsWindows_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
};

}  // namespace brindlex
