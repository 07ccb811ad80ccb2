#include "net/worker_threads.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

#include "core/main_loop.h"
#include "net/worker_stacks.h"

namespace brindlex {
namespace {

using namespace std::chrono_literals;

// One job: which kernel thread ran it. Thread ids, unlike pthread_t values,
// are not reused at once when a new thread gets an old thread's stack.
struct Job {
  std::mutex lock;
  std::condition_variable done;
  long thread = 0;
};

void NoteThread(void* item) {
  auto* job = static_cast<Job*>(item);
  std::lock_guard<std::mutex> guard(job->lock);
  job->thread = ::syscall(SYS_gettid);
  job->done.notify_all();
}

long RunAndWait() {
  Job job;
  EXPECT_TRUE(RunOnWorkerThread(NoteThread, &job));
  std::unique_lock<std::mutex> guard(job.lock);
  job.done.wait_for(guard, 10s, [&job] { return job.thread != 0; });
  return job.thread;
}

class WorkerThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMainLoop(&loop_); }
  void TearDown() override {
    EndParkedWorkers();
    // Ended threads hand their stacks to the main thread.
    // An ended thread posts its stack before it stops counting as live.
    bool ended = false;
    for (int i = 0; i < 1000 && !ended; ++i) {
      bool none = LiveWorkerThreads() == 0;
      loop_.Pump();
      ended = none && ReapWorkers(false) == 0;
      if (!ended) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(ended) << LiveWorkerThreads() << " threads still running";
    SetMainLoop(nullptr);
  }
  HeadlessMainLoop loop_;
};

TEST_F(WorkerThreadsTest, AThreadThatFinishedItsJobRunsALaterOne) {
  // A job handed over before the last thread has parked gets a new thread;
  // soon one of the earlier threads must be waiting for it.
  std::set<long> seen;
  bool reused = false;
  for (int i = 0; i < 50 && !reused; ++i) {
    long thread = RunAndWait();
    ASSERT_NE(thread, 0);
    reused = !seen.insert(thread).second;
  }
  EXPECT_TRUE(reused) << seen.size() << " jobs, each on a thread of its own";
  EXPECT_LE(LiveWorkerThreads(), seen.size());
}

TEST_F(WorkerThreadsTest, AfterTheShutdownBeganNoThreadWaitsForWork) {
  long first = RunAndWait();
  ASSERT_NE(first, 0);
  EndParkedWorkers();
  // Had the parked thread stayed, it would have taken this job.
  long second = RunAndWait();
  ASSERT_NE(second, 0);
  EXPECT_NE(second, first);
}

}  // namespace
}  // namespace brindlex
