#include "console/qt/speed_window.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

namespace brindlex {
namespace {

constexpr int kAxisBottom = 18;  // minutes under the graph
constexpr int kAxisLeft = 44;    // kilobytes per second beside it
constexpr int kGridSteps = 10;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

void SpeedGraph::Show(const SpeedWindow& window, int second) {
  window_ = &window;
  second_ = second;
  update();
}

void SpeedGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect graph(kAxisLeft, 2, width() - kAxisLeft - 4, height() - kAxisBottom - 4);
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
  for (int minute = 0; minute <= 5; ++minute) {
    const int x = graph.right() - minute * graph.width() / 5;
    painter.drawText(x - 10, graph.bottom() + 2, 20, kAxisBottom, Qt::AlignCenter, QString::number(minute));
  }
  if (window_ == nullptr) return;
  for (int fifth = 0; fifth <= 5; ++fifth) {
    const int y = graph.bottom() - fifth * graph.height() / 5;
    painter.drawText(0, y - 8, kAxisLeft - 4, 16, Qt::AlignRight | Qt::AlignVCenter,
                     Q(SpeedScaleLabel(window_->Scale(), fifth)));
  }
  const std::vector<int> bars = SpeedBarHeights(window_->Slots(), graph.height(), window_->Scale());
  painter.setPen(QColor(0, 220, 0));
  for (std::size_t slot = 0; slot < bars.size(); ++slot) {
    if (bars[slot] == 0) continue;
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
