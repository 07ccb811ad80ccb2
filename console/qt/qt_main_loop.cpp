#include "console/qt/qt_main_loop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QApplication>
#include <cstdint>

#include "core/report_exception.h"

namespace brindlex {

QtMainLoop::QtMainLoop() {
  // Without an eventfd the timer's 10 ms steps serve the tasks too.
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ >= 0) {
    woken_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    connect(woken_.get(), &QSocketNotifier::activated, this, [this] { RunTasks(); });
    const int fd = wakeFd_;
    tasks_.SetWakeHook([fd] {
      const std::uint64_t one = 1;
      [[maybe_unused]] ssize_t written = ::write(fd, &one, sizeof(one));
    });
  }
  // The timer's own 10 ms period is the tick's rhythm; the per-second work
  // keeps its own second base, so the tick's wish for a longer sleep is not
  // needed here.
  timer_.setInterval(10);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (wakeFd_ < 0) RunTasks();
    if (!tick_) return;
    try {
      tick_();
    } catch (...) {
      ReportCurrentException("MainTimer", 0);
    }
  });
}

QtMainLoop::~QtMainLoop() {
  woken_.reset();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void QtMainLoop::RunTasks() {
  if (wakeFd_ >= 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t read = ::read(wakeFd_, &count, sizeof(count));
  }
  tasks_.Pump();
}

void QtMainLoop::RunSync(const std::function<void()>& fn) { tasks_.RunSync(fn); }

void QtMainLoop::Post(std::function<void()> fn) { tasks_.Post(std::move(fn)); }

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
  // From the signal thread too: the quit itself is a task of the main thread.
  // exit(), not quit(): quit() first asks every window to close, and the main
  // window refuses (closing it only hides it).
  tasks_.Post([] { QApplication::exit(0); });
}

void QtMainLoop::Pump() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  tasks_.Pump();
}

bool QtMainLoop::IsMainThread() const { return tasks_.IsMainThread(); }

}  // namespace brindlex
