#include "console/qt/schedule_grid.h"

#include <QMouseEvent>
#include <QPainter>

#include "console/account_pages.h"

namespace brindlex {
namespace {

constexpr int kCell = 22;
constexpr int kHeader = 20;

}  // namespace

ScheduleGrid::ScheduleGrid(std::function<void(int, int, bool)> paint, QWidget* parent)
    : QWidget(parent), paint_(std::move(paint)) {
  setObjectName("ScheduleGrid");
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ScheduleGrid::Show(const Schedule* schedule, const Schedule* group) {
  schedule_ = schedule;
  group_ = group;
  update();
}

int ScheduleGrid::TitleWidth() const {
  int width = 0;
  for (int day = 0; day < kScheduleDays; ++day)
    width = std::max(width, fontMetrics().horizontalAdvance(QString::fromStdString(ScheduleRowTitle(day))));
  return width + 12;
}

QSize ScheduleGrid::sizeHint() const {
  return {TitleWidth() + kScheduleHoursPerDay * kCell + 1, kHeader + kScheduleDays * kCell + 1};
}

QRect ScheduleGrid::CellRect(int day, int hour) const {
  return {TitleWidth() + hour * kCell, kHeader + day * kCell, kCell, kCell};
}

void ScheduleGrid::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  for (int hour = 0; hour < kScheduleHoursPerDay; ++hour)
    painter.drawText(QRect(TitleWidth() + hour * kCell, 0, kCell, kHeader), Qt::AlignCenter, QString::number(hour));
  for (int day = 0; day < kScheduleDays; ++day) {
    painter.drawText(QRect(4, kHeader + day * kCell, TitleWidth() - 4, kCell), Qt::AlignVCenter | Qt::AlignLeft,
                     QString::fromStdString(ScheduleRowTitle(day)));
    for (int hour = 0; hour < kScheduleHoursPerDay; ++hour) {
      QColor colour = Qt::white;
      if (schedule_ && ScheduleAllows(*schedule_, day, hour))
        colour = group_ && HourGreyed(*schedule_, *group_, day, hour) ? QColor(Qt::gray) : QColor(0x3a, 0x7b, 0xd5);
      const QRect cell = CellRect(day, hour);
      painter.fillRect(cell, colour);
      painter.setPen(palette().mid().color());
      painter.drawRect(cell);
      painter.setPen(palette().windowText().color());
    }
  }
}

void ScheduleGrid::PaintAt(const QPoint& point, Qt::MouseButtons buttons) {
  if (!(buttons & (Qt::LeftButton | Qt::RightButton))) return;
  const int x = point.x() - TitleWidth();
  const int y = point.y() - kHeader;
  if (x < 0 || y < 0) return;
  const int hour = x / kCell;
  const int day = y / kCell;
  if (hour >= kScheduleHoursPerDay || day >= kScheduleDays) return;
  paint_(day, hour, (buttons & Qt::LeftButton) != 0);
  update(CellRect(day, hour));
}

void ScheduleGrid::mousePressEvent(QMouseEvent* event) { PaintAt(event->position().toPoint(), event->buttons()); }

void ScheduleGrid::mouseMoveEvent(QMouseEvent* event) { PaintAt(event->position().toPoint(), event->buttons()); }

}  // namespace brindlex
