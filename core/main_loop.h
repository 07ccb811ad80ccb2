// The main thread's loop: the one place where session structures change
// outside the accounts lock, where close bookkeeping and status lines run, and
// where the 10 ms tick drives the main timer.
//
// RunSync blocks its caller until the main thread has run the function (run
// at once when called on the main thread itself). The main thread is woken
// immediately by RunSync and Post, not on its next tick. Never call RunSync
// while holding the accounts lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace brindlex {

class MainLoop {
 public:
  virtual ~MainLoop() = default;
  virtual void RunSync(const std::function<void()>& fn) = 0;
  virtual void Post(std::function<void()> fn) = 0;
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

// A loop without a GUI: a task queue with a condition variable and a 10 ms
// tick. The thread that constructs it is the main thread.
class HeadlessMainLoop final : public MainLoop {
 public:
  explicit HeadlessMainLoop(std::function<void()> onTick = {});
  void RunSync(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  void Run() override;
  void Quit() override;
  void Pump() override;
  bool IsMainThread() const override;
  void SetTick(std::function<void()> onTick);

 private:
  struct Task {
    std::function<void()> fn;
    bool* done = nullptr;  // RunSync: set under mutex_ when fn has run
  };
  void RunTask(Task& task);

  std::thread::id mainThread_;
  std::function<void()> onTick_;
  std::mutex mutex_;  // guards queue_, quit_ and every Task::done
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<Task> queue_;
  bool quit_ = false;
};

}  // namespace brindlex
