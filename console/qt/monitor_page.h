// The monitor page: the engine's lines as they come, the pause, the seven
// protocol switches (the console's own: they hide lines, the gateway sends
// them all), the selected line's URL and "Добавить в фильтр".
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <functional>

#include "console/monitor_view.h"

namespace brindlex {

class MonitorPage final : public QWidget {
  Q_OBJECT

 public:
  MonitorPage(ConsoleEngine& engine, QWidget* parent);
  // Opens the URL filter editor of a user (the editor's own window).
  void SetFilterEditor(std::function<void(const FilterRequest&)> open) { openFilter_ = std::move(open); }
  void Add(MonitorEntry entry);
  void Add(const std::string& line) { Add(MonitorEntry{line, kMonitorAlways, 0, {}}); }
  const MonitorLines& Lines() const { return lines_; }
  QPushButton* PauseButton() { return pause_; }
  QCheckBox* Switch(int monitorSwitch) { return switches_.at(static_cast<std::size_t>(monitorSwitch)); }
  QPushButton* AddToFilterButton() { return addToFilter_; }
  QListWidget* List() { return list_; }

 private:
  void Selected(int row);
  void ContextMenu(const QPoint& at);
  void SetPaused(bool paused);
  void Clear();
  // The list widget after the model changed.
  void Follow(MonitorChange change);

  ConsoleEngine& engine_;
  MonitorLines lines_;
  std::function<void(const FilterRequest&)> openFilter_;
  QListWidget* list_ = nullptr;
  QPushButton* pause_ = nullptr;
  QLineEdit* url_ = nullptr;
  QPushButton* addToFilter_ = nullptr;
  std::array<QCheckBox*, kMonitorSwitches> switches_{};
};

}  // namespace brindlex
