// TForm4: the speed graph of a user, a group or the whole program over the
// last five minutes, and the registry that keeps one window per subject.
#pragma once

#include <QLabel>
#include <QWidget>
#include <map>
#include <utility>

#include "console/speed_view.h"
#include "console/users_view.h"

namespace brindlex {

class SpeedGraph final : public QWidget {
  Q_OBJECT

 public:
  explicit SpeedGraph(QWidget* parent) : QWidget(parent) {}
  void Show(const SpeedWindow& window, int second);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const SpeedWindow* window_ = nullptr;
  int second_ = 0;
};

class TForm4 final : public QWidget {
  Q_OBJECT

 public:
  TForm4(ConsoleEngine& engine, const SpeedTarget& target);
  // Once a second: the engine's history again, the figures and the graph.
  void Update();

 private:
  ConsoleEngine& engine_;
  SpeedTarget target_;
  SpeedWindow window_;
  int second_ = 0;
  SpeedGraph* graph_ = nullptr;
  QLabel* current_ = nullptr;
  QLabel* average_ = nullptr;
  QLabel* maximum_ = nullptr;
};

// At most one window per user, per group and one for the program; they go
// when the main window is closed.
class SpeedWindows final : public QObject {
  Q_OBJECT

 public:
  SpeedWindows(ConsoleEngine& engine, QObject* parent) : QObject(parent), engine_(engine) {}
  ~SpeedWindows() override;
  // Opens the window of the target, or brings the open one to the front.
  TForm4* Open(const SpeedTarget& target);
  void Repaint();
  void CloseAll();

 private:
  ConsoleEngine& engine_;
  std::map<std::pair<SpeedSubject, std::uint32_t>, TForm4*> windows_;
};

}  // namespace brindlex
