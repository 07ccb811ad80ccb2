#include "console/qt/connections_page.h"

#include <QMouseEvent>
#include <QPainter>

namespace brindlex {
namespace {

constexpr int kIndent = 18;
constexpr int kMargin = 6;

}  // namespace

ConnectionsPage::ConnectionsPage(ConsoleEngine& engine, QWidget* parent) : QWidget(parent), engine_(engine) {
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  scroll_ = new QScrollBar(Qt::Vertical, this);
  scroll_->setRange(0, 0);
  button_ = new QPushButton(this);
  button_->hide();
  connect(scroll_, &QScrollBar::valueChanged, this, [this] {
    PlaceButton();
    update();
  });
  connect(button_, &QPushButton::clicked, this, [this] {
    tree_.Press(engine_);
    button_->hide();
    Repaint();
  });
}

void ConnectionsPage::Repaint() {
  if (!tree_.Refresh(engine_)) return;  // the lock was busy: the next tick tries again
  scroll_->setRange(0, static_cast<int>(tree_.HiddenLines(height())));
  PlaceButton();
  update();
}

void ConnectionsPage::Second() {
  tree_.Tick();
  if (!tree_.ButtonShown()) button_->hide();
}

void ConnectionsPage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const auto& lines = tree_.Lines();
  if (lines.empty()) {
    painter.drawText(rect(), Qt::AlignCenter, QString::fromStdString(NoActiveUsersText()));
    return;
  }
  const QColor text = palette().color(QPalette::Text);
  QPen connector(palette().color(QPalette::Mid));
  connector.setStyle(Qt::DotLine);
  const int first = scroll_->value();
  const QFontMetrics metrics(font());
  for (int i = first; i < static_cast<int>(lines.size()); ++i) {
    const int top = (i - first) * kTreeLineHeight;
    if (top > height()) break;
    const TreeLine& line = lines[i];
    const int x = kMargin + line.depth * kIndent;
    const int middle = top + kTreeLineHeight / 2;
    if (line.depth > 0) {
      // A dotted elbow from the parent's column to this line.
      painter.setPen(connector);
      painter.drawLine(x - kIndent + 4, top, x - kIndent + 4, middle);
      painter.drawLine(x - kIndent + 4, middle, x - 2, middle);
    }
    const bool selected =
        tree_.Selection() && tree_.Selection()->handle == line.handle && tree_.Selection()->kind == line.kind;
    if (selected)
      painter.fillRect(x - 2, top, metrics.horizontalAdvance(QString::fromStdString(line.text)) + 4, kTreeLineHeight,
                       palette().color(QPalette::Highlight).lighter(170));
    painter.setPen(line.grey ? QColor(Qt::gray) : text);
    painter.drawText(x, top, width() - x, kTreeLineHeight, Qt::AlignVCenter | Qt::AlignLeft,
                     QString::fromStdString(line.text));
  }
}

void ConnectionsPage::mousePressEvent(QMouseEvent* event) {
  if (!tree_.Click(static_cast<int>(event->position().y()), static_cast<std::size_t>(scroll_->value()))) return;
  button_->setText(QString::fromStdString(TreeActionCaption(tree_.Selection()->kind)));
  button_->adjustSize();
  button_->show();
  PlaceButton();
  update();
}

void ConnectionsPage::resizeEvent(QResizeEvent*) {
  const int barWidth = scroll_->sizeHint().width();
  scroll_->setGeometry(width() - barWidth, 0, barWidth, height());
  scroll_->setRange(0, static_cast<int>(tree_.HiddenLines(height())));
  PlaceButton();
}

void ConnectionsPage::wheelEvent(QWheelEvent* event) {
  scroll_->setValue(scroll_->value() - event->angleDelta().y() / 40);
}

void ConnectionsPage::PlaceButton() {
  if (!tree_.Selection()) return;
  const auto& lines = tree_.Lines();
  const auto& selection = *tree_.Selection();
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    if (lines[i].handle != selection.handle || lines[i].kind != selection.kind) continue;
    const int top = (i - scroll_->value()) * kTreeLineHeight;
    const int x = kMargin + lines[i].depth * kIndent +
                  QFontMetrics(font()).horizontalAdvance(QString::fromStdString(lines[i].text)) + 12;
    button_->move(std::min(x, width() - button_->width() - scroll_->width()), top - 3);
    return;
  }
}

}  // namespace brindlex
