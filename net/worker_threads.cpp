#include "net/worker_threads.h"

#include <pthread.h>
#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "core/main_loop.h"
#include "net/worker_stacks.h"

namespace brindlex {

namespace {

constexpr auto kParkTime = std::chrono::seconds(1);
// How late a worker's timed wait may end. Hundreds of connections each
// moving data wake every 100 ms; with some slack the kernel serves many of
// those timers with one interrupt instead of one each. Speed periods stay
// exact: they are measured from their own start, not from the end of the
// wait.
constexpr unsigned long kTimerSlackNs = 5'000'000;

// A parked thread; its job is handed over under g_lock. The wake-up follows
// the unlock, or the woken thread would only wait for g_lock; `notifying`
// counts the notifications still under way, and the thread (with this record
// on its stack) does not end before they are done.
struct Parked {
  std::condition_variable wake;
  WorkerJob job = nullptr;
  void* item = nullptr;
  std::atomic<int> notifying{0};
};

std::mutex g_lock;
std::vector<Parked*> g_parked;  // the most recently parked last
bool g_ending = false;
std::atomic<size_t> g_live{0};

struct ThreadStart {
  WorkerJob job;
  void* item;
  WorkerStack stack;
};

// Waits for the next job; false when the thread is to end. The most recently
// parked thread is handed the next job: its stack is the one still in the
// caches.
bool Park(Parked& self) {
  std::unique_lock<std::mutex> lock(g_lock);
  self.job = nullptr;
  if (g_ending) return false;
  g_parked.push_back(&self);
  self.wake.wait_for(lock, kParkTime, [&self] { return self.job != nullptr || g_ending; });
  // Whoever handed the job took the thread off the list.
  if (self.job) return true;
  g_parked.erase(std::find(g_parked.begin(), g_parked.end(), &self));
  return false;
}

void* ThreadMain(void* arg) {
  ThreadStart start = *static_cast<ThreadStart*>(arg);
  delete static_cast<ThreadStart*>(arg);
  ::prctl(PR_SET_TIMERSLACK, kTimerSlackNs);
  Parked self;
  self.job = start.job;
  self.item = start.item;
  do {
    self.job(self.item);
  } while (Park(self));
  while (self.notifying.load() != 0) std::this_thread::yield();
  // The main thread joins this thread once it has returned, and keeps or
  // unmaps its stack; earlier threads have returned by then.
  EndedWorker ended{::pthread_self(), start.stack};
  TheMainLoop().Post([ended] {
    WorkerEnded(ended);
    ReapWorkers(false);
  });
  g_live.fetch_sub(1);
  return nullptr;
}

bool HandToParked(WorkerJob job, void* item) {
  Parked* parked = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    // Parked threads told to end may not have woken yet.
    if (g_ending || g_parked.empty()) return false;
    parked = g_parked.back();
    g_parked.pop_back();
    parked->job = job;
    parked->item = item;
    ++parked->notifying;
  }
  parked->wake.notify_one();
  --parked->notifying;
  return true;
}

}  // namespace

bool RunOnWorkerThread(WorkerJob job, void* item) {
  if (HandToParked(job, item)) return true;
  g_live.fetch_add(1);
  std::optional<WorkerStack> stack = AcquireWorkerStack();
  int rc = -1;
  if (stack) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, stack->base, stack->size);
    auto* start = new (std::nothrow) ThreadStart{job, item, *stack};
    pthread_t thread;
    rc = start ? pthread_create(&thread, &attr, ThreadMain, start) : ENOMEM;
    pthread_attr_destroy(&attr);
    if (rc != 0) {
      delete start;
      ReleaseWorkerStack(*stack);
    }
  }
  if (rc == 0) return true;
  g_live.fetch_sub(1);
  return false;
}

size_t LiveWorkerThreads() { return g_live.load(); }

void EndParkedWorkers() {
  std::lock_guard<std::mutex> lock(g_lock);
  g_ending = true;
  for (Parked* parked : g_parked) parked->wake.notify_one();
}

}  // namespace brindlex
