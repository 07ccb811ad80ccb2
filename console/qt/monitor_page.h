// The monitor page: the engine's lines as they come, the pause, the seven
// protocol switches, the selected line's URL and "Добавить в фильтр".
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "console/monitor_view.h"

namespace brindlex {

class MonitorPage final : public QWidget {
  Q_OBJECT

 public:
  MonitorPage(ConsoleEngine& engine, QWidget* parent);
  // Opens the URL filter editor of a user (the editor's own window).
  void SetFilterEditor(std::function<void(const FilterRequest&)> open) { openFilter_ = std::move(open); }
  void Add(const std::string& line);
  const MonitorLines& Lines() const { return lines_; }
  QPushButton* AddToFilterButton() { return addToFilter_; }
  QListWidget* List() { return list_; }

 private:
  void Selected(int row);
  void ContextMenu(const QPoint& at);
  void SetPaused(bool paused);
  void Clear();

  ConsoleEngine& engine_;
  MonitorLines lines_;
  std::function<void(const FilterRequest&)> openFilter_;
  QListWidget* list_ = nullptr;
  QPushButton* pause_ = nullptr;
  QLineEdit* url_ = nullptr;
  QPushButton* addToFilter_ = nullptr;
};

}  // namespace brindlex
