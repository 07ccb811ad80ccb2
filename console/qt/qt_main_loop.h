// The main loop when the desktop console runs: Qt's event loop on the main
// thread, with a 10 ms timer for the tick.
//
// Workers' tasks are queued in a task queue of our own (a headless loop that
// is never run), guarded by a plain mutex, and the Qt loop is woken through
// an eventfd that it watches. Workers therefore never call into Qt, whose
// cross-thread machinery neither they nor the race checker can see into.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <thread>

#include "core/main_loop.h"

namespace brindlex {

class QtMainLoop final : public QObject, public MainLoop {
  Q_OBJECT

 public:
  // Construct on the main thread, after the QApplication.
  QtMainLoop();
  ~QtMainLoop() override;
  void RunSync(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  void SetTick(Tick tick) override;
  void Run() override;
  void Quit() override;
  void Pump() override;
  bool IsMainThread() const override;

 private:
  void RunTasks();

  HeadlessMainLoop tasks_;
  int wakeFd_ = -1;
  std::unique_ptr<QSocketNotifier> woken_;
  Tick tick_;
  QTimer timer_;
};

}  // namespace brindlex
