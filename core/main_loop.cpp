#include "core/main_loop.h"

#include "core/report_exception.h"

namespace brindlex {

namespace {
MainLoop* g_mainLoop = nullptr;
constexpr auto kTick = std::chrono::milliseconds(10);
}  // namespace

MainLoop& TheMainLoop() { return *g_mainLoop; }
void SetMainLoop(MainLoop* loop) { g_mainLoop = loop; }

HeadlessMainLoop::HeadlessMainLoop(std::function<void()> onTick)
    : mainThread_(std::this_thread::get_id()), onTick_(std::move(onTick)) {}

void HeadlessMainLoop::SetTick(std::function<void()> onTick) { onTick_ = std::move(onTick); }

bool HeadlessMainLoop::IsMainThread() const { return std::this_thread::get_id() == mainThread_; }

// The condition variables are notified after the mutex is released, so the
// woken thread does not wake only to wait for the mutex. That is safe for
// RunSync and Post because the loop outlives every thread that calls them
// (the shutdown waits for the workers and joins the listener).
void HeadlessMainLoop::RunSync(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  bool done = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Task{fn, &done});
  }
  wake_.notify_one();
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return done; });
}

void HeadlessMainLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Task{std::move(fn), nullptr});
  }
  wake_.notify_one();
}

// Notified under the mutex: once the main thread sees quit_ it may leave
// Run and destroy the loop while a notification outside would still touch it.
void HeadlessMainLoop::Quit() {
  std::lock_guard<std::mutex> lock(mutex_);
  quit_ = true;
  wake_.notify_one();
}

void HeadlessMainLoop::RunTask(Task& task) {
  try {
    task.fn();
  } catch (...) {
    ReportCurrentException("MainLoop", 0);
  }
  if (task.done) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      *task.done = true;
    }
    done_.notify_all();
  }
}

void HeadlessMainLoop::Pump() {
  while (true) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    RunTask(task);
  }
}

void HeadlessMainLoop::Run() {
  auto nextTick = std::chrono::steady_clock::now() + kTick;
  while (true) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_until(lock, nextTick, [&] { return quit_ || !queue_.empty(); });
      if (quit_) {
        quit_ = false;
        return;
      }
    }
    Pump();
    auto now = std::chrono::steady_clock::now();
    if (now >= nextTick) {
      // A late tick is not repeated: the timer's own second base catches up.
      nextTick = now + kTick;
      if (onTick_) {
        try {
          onTick_();
        } catch (...) {
          ReportCurrentException("MainTimer", 0);
        }
      }
    }
  }
}

}  // namespace brindlex
