#include "console/qt/qt_main_loop.h"

#include <QApplication>
#include <QMetaObject>

namespace brindlex {

QtMainLoop::QtMainLoop() : mainThread_(std::this_thread::get_id()) {
  // The timer's own 10 ms period is the tick's rhythm; the tick's wish for
  // a longer sleep is not needed here, the per-second work keeps its own
  // second base.
  timer_.setInterval(10);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (tick_) tick_();
  });
}

void QtMainLoop::RunSync(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(
      this, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void QtMainLoop::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void QtMainLoop::SetTick(Tick tick) {
  tick_ = std::move(tick);
  if (tick_)
    timer_.start();
  else
    timer_.stop();
}

void QtMainLoop::Run() {
  QApplication::exec();
  // As headless: the tick belongs to the running loop, not to the pumping
  // that shutdown does afterwards.
  timer_.stop();
}

void QtMainLoop::Quit() {
  // Called from the signal thread too: the quit itself runs on the main thread.
  QMetaObject::invokeMethod(
      qApp, [] { QApplication::quit(); }, Qt::QueuedConnection);
}

void QtMainLoop::Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool QtMainLoop::IsMainThread() const { return std::this_thread::get_id() == mainThread_; }

}  // namespace brindlex
