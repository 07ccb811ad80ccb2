#include "core/main_loop.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace brindlex {
namespace {

TEST(HeadlessMainLoop, RunSyncRunsOnTheMainThreadAndBlocksUntilDone) {
  HeadlessMainLoop loop;
  std::thread::id main = std::this_thread::get_id();
  std::atomic<int> ranOnMain{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < 8; ++i)
    workers.emplace_back([&] {
      int local = 0;
      loop.RunSync([&] {
        if (std::this_thread::get_id() == main) ++ranOnMain;
        local = 1;
      });
      EXPECT_EQ(local, 1) << "RunSync returned before the function ran";
    });
  std::thread quitter([&] {
    for (auto& w : workers) w.join();
    loop.Quit();
  });
  loop.Run();
  quitter.join();
  EXPECT_EQ(ranOnMain, 8);
}

TEST(HeadlessMainLoop, RunSyncOnTheMainThreadRunsAtOnceAndPumpServesWaitingCallers) {
  HeadlessMainLoop loop;
  int value = 0;
  loop.RunSync([&] { value = 1; });
  EXPECT_EQ(value, 1);

  // Without Run, only Pump can serve a worker's synchronous call, as during
  // the shutdown wait.
  std::atomic<bool> served{false};
  std::thread worker([&] { loop.RunSync([&] { served = true; }); });
  while (!served) {
    loop.Pump();
    std::this_thread::yield();
  }
  worker.join();
  loop.Post([&] { value = 2; });
  EXPECT_EQ(value, 1);
  loop.Pump();
  EXPECT_EQ(value, 2);
}

TEST(HeadlessMainLoop, TicksWhileRunningAndQuitBeforeRunReturnsAtOnce) {
  std::atomic<int> ticks{0};
  HeadlessMainLoop loop;
  loop.SetTick([&] {
    if (++ticks == 3) loop.Quit();
  });
  loop.Run();
  EXPECT_EQ(ticks, 3);

  HeadlessMainLoop early;
  early.Quit();
  early.Run();  // must not block
  SUCCEED();
}

}  // namespace
}  // namespace brindlex
