#include "console/qt/speed_window.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "console/qt/window_place.h"
#include "core/strings.h"

namespace brindlex {
namespace {

constexpr int kGridSteps = 10;
constexpr int kMargin = 4;
constexpr int kMinutes = 5;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

void SpeedGraph::Show(const SpeedWindow& window, int second) {
  window_ = &window;
  second_ = second;
  update();
}

void SpeedGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QFontMetrics metrics = painter.fontMetrics();
  const std::int64_t scale = window_ != nullptr ? window_->Scale() : kSpeedScaleStart;
  // The left axis is as wide as its widest label, the unit included, so no
  // number is cut whatever the scale.
  const QString speedUnit = Q(Str(32));
  int labelWidth = metrics.horizontalAdvance(speedUnit);
  for (int fifth = 0; fifth <= 5; ++fifth)
    labelWidth = std::max(labelWidth, metrics.horizontalAdvance(Q(SpeedScaleLabel(scale, fifth))));
  const int lineHeight = metrics.height();
  const int left = labelWidth + 2 * kMargin;
  const int top = lineHeight + kMargin;  // the unit above the axis
  const int bottom = lineHeight + kMargin;  // the minutes under the graph
  const QRect graph(left, top, width() - left - kMargin - metrics.horizontalAdvance(Q(Str(1445))) / 2,
                    height() - top - bottom);
  if (graph.width() <= 0 || graph.height() <= 0) return;
  painter.fillRect(graph, Qt::black);
  // The grid's vertical lines move one step a second, as the bars do.
  painter.setPen(QColor(0, 90, 0));
  const double stepX = graph.width() / double(kGridSteps);
  // One slot a second across the graph's width.
  const std::size_t slotCount = window_ != nullptr && !window_->Slots().empty() ? window_->Slots().size() : 300;
  const double shift = std::fmod(second_ * graph.width() / double(slotCount), stepX);
  for (int i = 0; i <= kGridSteps; ++i) {
    const int y = graph.top() + static_cast<int>(i * graph.height() / double(kGridSteps));
    painter.drawLine(graph.left(), y, graph.right(), y);
    const int x = graph.right() - static_cast<int>(i * stepX + shift);
    if (x >= graph.left()) painter.drawLine(x, graph.top(), x, graph.bottom());
  }
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(kMargin, 0, labelWidth, lineHeight, Qt::AlignRight | Qt::AlignVCenter, speedUnit);
  // Minutes ago, 5 at the left edge to 0 at the right; the unit after the
  // oldest so the newest stays plain.
  for (int minute = 0; minute <= kMinutes; ++minute) {
    const int x = graph.right() - minute * graph.width() / kMinutes;
    QString text = QString::number(minute);
    if (minute == kMinutes) text += ' ' + Q(Str(1445));
    const int textWidth = metrics.horizontalAdvance(text);
    int textLeft = minute == kMinutes ? x - metrics.horizontalAdvance(QString::number(minute)) / 2 : x - textWidth / 2;
    textLeft = std::clamp(textLeft, 0, width() - textWidth);
    painter.drawText(textLeft, graph.bottom() + 1, textWidth, bottom, Qt::AlignLeft | Qt::AlignVCenter, text);
  }
  for (int fifth = 0; fifth <= 5; ++fifth) {
    const int y = graph.bottom() - fifth * graph.height() / 5;
    painter.drawText(kMargin, y - lineHeight / 2, labelWidth, lineHeight, Qt::AlignRight | Qt::AlignVCenter,
                     Q(SpeedScaleLabel(scale, fifth)));
  }
  if (window_ == nullptr) return;
  const SpeedSlots& history = window_->Slots();
  const std::vector<int> bars = SpeedBarHeights(history, graph.height(), scale);
  const QColor line(0, 220, 0), cut(255, 200, 0);
  for (std::size_t slot = 0; slot < bars.size(); ++slot) {
    if (bars[slot] == 0) continue;
    // A burst above the scale reaches the top in another colour: it stands
    // for more than it shows.
    painter.setPen(SpeedBarClipped(history[slot], scale) ? cut : line);
    const int x = graph.right() - static_cast<int>(slot * graph.width() / double(bars.size()));
    painter.drawLine(x, graph.bottom(), x, graph.bottom() - bars[slot] + 1);
  }
}

TForm4::TForm4(ConsoleEngine& engine, const SpeedTarget& target)
    : QWidget(nullptr, Qt::Window), engine_(engine), target_(target) {
  setObjectName("TForm4");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(Q(SpeedCaption(target.subject, target.name)));
  graph_ = new SpeedGraph(this);
  current_ = new QLabel(this);
  average_ = new QLabel(this);
  maximum_ = new QLabel(this);
  auto* status = new QHBoxLayout;
  for (QLabel* field : {current_, average_, maximum_}) {
    field->setFrameShape(QFrame::Panel);
    field->setFrameShadow(QFrame::Sunken);
    status->addWidget(field, 1);
  }
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(graph_, 1);
  layout->addLayout(status);
  resize(480, 260);
  Update();
}

void TForm4::Update() {
  window_.Update(engine_.SpeedHistory(target_.subject, target_.id));
  ++second_;
  const SpeedStatusTexts texts = window_.StatusTexts();
  current_->setText(Q(texts.current));
  average_->setText(Q(texts.average));
  maximum_->setText(Q(texts.maximum));
  graph_->Show(window_, second_);
}

SpeedWindows::~SpeedWindows() { CloseAll(); }

TForm4* SpeedWindows::Open(const SpeedTarget& target) {
  const auto key = std::make_pair(target.subject, target.id);
  TForm4*& window = windows_[key];
  if (window == nullptr) {
    window = new TForm4(engine_, target);
    connect(window, &QObject::destroyed, this, [this, key] { windows_.erase(key); });
    PlaceOnScreen(window, qobject_cast<const QWidget*>(parent()), static_cast<int>(windows_.size()) - 1);
  }
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

void SpeedWindows::Repaint() {
  for (auto& [key, window] : windows_) window->Update();
}

void SpeedWindows::CloseAll() {
  // Closing deletes the window, which takes it out of the map.
  while (!windows_.empty()) {
    TForm4* window = windows_.begin()->second;
    windows_.erase(windows_.begin());
    disconnect(window, &QObject::destroyed, this, nullptr);
    delete window;
  }
}

}  // namespace brindlex
