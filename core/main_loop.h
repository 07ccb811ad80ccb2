// The main thread's loop: the one place where session structures change
// outside the accounts lock, where status and monitor lines are shown, and
// where the tick drives the main timer.
//
// RunSync blocks its caller until the main thread has run the function (run
// at once when called on the main thread itself). The main thread is woken
// immediately by RunSync and Post. Never call RunSync while holding the
// accounts lock.
//
// The tick runs after every batch of tasks and whenever the wait it asked for
// has passed; it returns how long the loop may sleep before running it again.
// An idle loop therefore wakes only when the tick wants it (once a second for
// the main timer) or when work is posted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace brindlex {

class MainLoop {
 public:
  using Tick = std::function<std::chrono::nanoseconds()>;

  virtual ~MainLoop() = default;
  virtual void RunSync(const std::function<void()>& fn) = 0;
  virtual void Post(std::function<void()> fn) = 0;
  // Set on the main thread before Run; an empty tick is never run.
  virtual void SetTick(Tick tick) = 0;
  // Runs tasks and ticks until Quit.
  virtual void Run() = 0;
  virtual void Quit() = 0;
  // Runs the tasks already waiting (used while shutdown waits for workers).
  virtual void Pump() = 0;
  virtual bool IsMainThread() const = 0;
};

// The loop in force; set by the program's entry before any thread starts.
MainLoop& TheMainLoop();
void SetMainLoop(MainLoop* loop);
// Whether the caller is the main thread; before a loop is set, the one
// thread there is counts as the main thread.
bool OnMainThread();

// A loop without a GUI: a task queue with a condition variable whose wait
// ends at the tick's deadline. The thread that constructs it is the main
// thread.
class HeadlessMainLoop final : public MainLoop {
 public:
  HeadlessMainLoop();
  void RunSync(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  void SetTick(Tick tick) override;
  void Run() override;
  void Quit() override;
  void Pump() override;
  bool IsMainThread() const override;
  // Called from the thread that queued a task, after queueing it: another
  // loop that keeps its tasks here (and never runs this one) wakes its own
  // main thread this way. Set before any other thread starts.
  void SetWakeHook(std::function<void()> wake) { wakeHook_ = std::move(wake); }

 private:
  struct Task {
    std::function<void()> fn;
    bool* done = nullptr;  // RunSync: set under mutex_ when fn has run
  };
  void RunTask(Task& task);
  // Runs the tick; returns when it wants to run again (none without a tick).
  std::optional<std::chrono::steady_clock::time_point> RunTick();

  std::thread::id mainThread_;
  Tick tick_;
  std::function<void()> wakeHook_;
  std::mutex mutex_;  // guards queue_, quit_ and every Task::done
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<Task> queue_;
  bool quit_ = false;
};

}  // namespace brindlex
