// The main loop when the desktop console runs: Qt's event loop on the main
// thread. Workers' synchronous calls are blocking queued calls into it, posted
// work is a queued call, and the tick runs from a 10 ms timer.
#pragma once

#include <QObject>
#include <QTimer>
#include <thread>

#include "core/main_loop.h"

namespace brindlex {

class QtMainLoop final : public QObject, public MainLoop {
  Q_OBJECT

 public:
  // Construct on the main thread, after the QApplication.
  QtMainLoop();
  void RunSync(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  void SetTick(Tick tick) override;
  void Run() override;
  void Quit() override;
  void Pump() override;
  bool IsMainThread() const override;

 private:
  std::thread::id mainThread_;
  Tick tick_;
  QTimer timer_;
};

}  // namespace brindlex
