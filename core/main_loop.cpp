#include "core/main_loop.h"

#include "core/report_exception.h"

namespace brindlex {

namespace {
MainLoop* g_mainLoop = nullptr;
// A tick that failed without ending the program is tried again this much later.
constexpr auto kRetryAfterFailedTick = std::chrono::seconds(1);
}  // namespace

MainLoop& TheMainLoop() { return *g_mainLoop; }
void SetMainLoop(MainLoop* loop) { g_mainLoop = loop; }
bool OnMainThread() { return !g_mainLoop || g_mainLoop->IsMainThread(); }

HeadlessMainLoop::HeadlessMainLoop() : mainThread_(std::this_thread::get_id()) {}

void HeadlessMainLoop::SetTick(Tick tick) { tick_ = std::move(tick); }

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
  if (wakeHook_) wakeHook_();
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return done; });
}

void HeadlessMainLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Task{std::move(fn), nullptr});
  }
  wake_.notify_one();
  if (wakeHook_) wakeHook_();
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

std::optional<std::chrono::steady_clock::time_point> HeadlessMainLoop::RunTick() {
  if (!tick_) return std::nullopt;
  std::chrono::nanoseconds wait = kRetryAfterFailedTick;
  try {
    wait = tick_();
  } catch (...) {
    ReportCurrentException("MainTimer", 0);
  }
  return std::chrono::steady_clock::now() + wait;
}

void HeadlessMainLoop::Run() {
  std::optional<std::chrono::steady_clock::time_point> nextTick = RunTick();
  while (true) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      auto woken = [&] { return quit_ || !queue_.empty(); };
      if (nextTick)
        wake_.wait_until(lock, *nextTick, woken);
      else
        wake_.wait(lock, woken);
      if (quit_) {
        quit_ = false;
        return;
      }
    }
    Pump();
    nextTick = RunTick();
  }
}

}  // namespace brindlex
