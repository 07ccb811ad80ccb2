#include "net/worker_stacks.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

namespace brindlex {
namespace {

std::atomic<bool> g_release{false};

void* WaitForRelease(void*) {
  while (!g_release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return nullptr;
}

pthread_t StartOn(WorkerStack stack) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstack(&attr, stack.base, stack.size);
  pthread_t thread;
  EXPECT_EQ(pthread_create(&thread, &attr, WaitForRelease, nullptr), 0);
  pthread_attr_destroy(&attr);
  return thread;
}

size_t ReapUntilJoined() {
  size_t remaining = 0;
  for (int i = 0; i < 5000 && (remaining = ReapWorkers(false)) > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return remaining;
}

bool Mapped(const void* address) {
  auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  unsigned char resident = 0;
  void* start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(address) & ~(page - 1));
  return ::mincore(start, page, &resident) == 0;
}

TEST(WorkerStacks, AnEndedWorkerIsJoinedOnlyOnceReturnedItsStackServesTheNextAndIdleUnmapsIt) {
  ReapWorkers(true);
  g_release = false;
  std::optional<WorkerStack> stack = AcquireWorkerStack();
  ASSERT_TRUE(stack);
  ASSERT_GE(stack->size, 64u * 1024);
  WorkerEnded(EndedWorker{StartOn(*stack), *stack});
  EXPECT_EQ(ReapWorkers(false), 1u) << "a thread still running is not waited for";
  g_release = true;
  ASSERT_EQ(ReapUntilJoined(), 0u);

  std::optional<WorkerStack> next = AcquireWorkerStack();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->base, stack->base) << "the joined worker's stack is kept for the next";
  ReleaseWorkerStack(*next);
  EXPECT_TRUE(Mapped(next->base));
  ReapWorkers(true);
  EXPECT_FALSE(Mapped(next->base)) << "an idle gateway keeps no stacks";
}

TEST(WorkerStacks, ManyWorkersEndingAtOnceAreAllJoined) {
  ReapWorkers(true);
  g_release = true;
  for (int i = 0; i < 300; ++i) {
    std::optional<WorkerStack> stack = AcquireWorkerStack();
    ASSERT_TRUE(stack);
    WorkerEnded(EndedWorker{StartOn(*stack), *stack});
  }
  EXPECT_EQ(ReapUntilJoined(), 0u);
  ReapWorkers(true);
}

}  // namespace
}  // namespace brindlex
