// The weekly schedule grid of the group and user pages: a column of day
// names and 24 hour columns by seven days. Dragging with the left button held
// marks hours, with the right button unmarks them; hours the user's group
// does not allow are drawn grey. The grid paints what the account page editor
// holds and forwards each painted cell to it.
#pragma once

#include <QWidget>
#include <functional>

#include "core/schedule.h"

namespace brindlex {

class ScheduleGrid final : public QWidget {
  Q_OBJECT

 public:
  // `paint` receives (day, hour, mark) for every cell the mouse passes.
  ScheduleGrid(std::function<void(int, int, bool)> paint, QWidget* parent);
  // The schedule shown and, on a user's grid, the group's (nullptr on a group's).
  void Show(const Schedule* schedule, const Schedule* group);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }
  // The cell's rectangle, for tests that drag over it.
  QRect CellRect(int day, int hour) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void PaintAt(const QPoint& point, Qt::MouseButtons buttons);
  int TitleWidth() const;

  std::function<void(int, int, bool)> paint_;
  const Schedule* schedule_ = nullptr;
  const Schedule* group_ = nullptr;
};

}  // namespace brindlex
