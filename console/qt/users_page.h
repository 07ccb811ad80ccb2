// The users page: the period tabs, the date panel, the traffic units and the
// users grid with its commands. It shows a UsersGrid; every figure, text and
// marking comes from there.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>
#include <QWidget>
#include <functional>
#include <optional>

#include "console/users_panel.h"
#include "console/users_view.h"

namespace brindlex {

class SpeedWindows;

// What the page hands to windows that other parts of the console own.
struct UsersPageHooks {
  std::function<void(const UsersGrid&, std::size_t row)> openStatistics;
  std::function<void(const UsersGrid&, std::size_t row)> openTicket;
  std::function<void(const UsersGrid&, std::size_t row)> sendMessage;
  std::function<void(const UsersGrid&)> exportTable;
};

class UsersPage final : public QWidget {
  Q_OBJECT

 public:
  UsersPage(ConsoleEngine& engine, SpeedWindows& speedWindows, QWidget* parent);
  void SetHooks(UsersPageHooks hooks) { hooks_ = std::move(hooks); }
  // Takes the engine's users again and lists them.
  void Rebuild();
  const UsersGrid& Grid() const { return grid_; }
  // The dates the period views show now.
  std::optional<DateSpan> Dates() const;

 private:
  UsersView CurrentView() const;
  void ViewChanged();
  void Show();
  void ShowDates();
  bool TakeIntervalDates();
  void PickDate(bool first);
  void Refresh();
  void ContextMenu(const QPoint& at);
  void OpenSpeed(std::size_t row);
  // "Абонемент": the subscription of the selected user, or a box that says
  // what to select.
  void OpenTicketOfCurrentRow();
  void StartRecount();
  std::optional<std::size_t> CurrentRow() const;

  ConsoleEngine& engine_;
  SpeedWindows& speedWindows_;
  UsersPageHooks hooks_;
  UsersGrid grid_;
  UsersGridOptions options_;
  std::optional<DateSpan> interval_;
  // The administrator has typed or picked an interval date not yet taken by
  // "Обновить": the grid's refreshes leave the edits alone until then.
  bool datesEdited_ = false;

  QTabBar* periods_ = nullptr;
  QTabBar* ticketTabs_ = nullptr;
  QWidget* datePanel_ = nullptr;
  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  QPushButton* fromCalendar_ = nullptr;
  QPushButton* toCalendar_ = nullptr;
  QPushButton* refresh_ = nullptr;
  QCheckBox* ticketUsers_ = nullptr;
  QPushButton* ticketButton_ = nullptr;
  QCheckBox* showGroups_ = nullptr;
  QCheckBox* hideIdle_ = nullptr;
  QButtonGroup* units_ = nullptr;
  QTableWidget* table_ = nullptr;
};

}  // namespace brindlex
