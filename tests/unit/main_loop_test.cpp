#include "core/main_loop.h"

#include <atomic>
#include <chrono>
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
    return std::chrono::nanoseconds(0);
  });
  loop.Run();
  EXPECT_EQ(ticks, 3);

  HeadlessMainLoop early;
  early.Quit();
  early.Run();  // must not block
  SUCCEED();
}

TEST(HeadlessMainLoop, SleepsUntilTheTickWantsToRunAgain) {
  constexpr auto kAsked = std::chrono::milliseconds(150);
  HeadlessMainLoop loop;
  std::vector<std::chrono::steady_clock::time_point> ticks;
  loop.SetTick([&] {
    ticks.push_back(std::chrono::steady_clock::now());
    if (ticks.size() == 2) loop.Quit();
    return std::chrono::nanoseconds(kAsked);
  });
  loop.Run();
  ASSERT_EQ(ticks.size(), 2u);
  EXPECT_GE(ticks[1] - ticks[0], kAsked) << "the loop ticked before the tick asked to run again";
}

TEST(HeadlessMainLoop, PostedWorkWakesTheLoopAndATickFollowsIt) {
  HeadlessMainLoop loop;
  std::atomic<int> ticks{0};
  std::atomic<bool> quitByTick{false};
  bool taskRan = false;  // main thread only
  loop.SetTick([&] {
    ++ticks;
    if (taskRan) {
      quitByTick = true;
      loop.Quit();
    }
    return std::chrono::nanoseconds(std::chrono::hours(1));
  });
  std::thread poster([&] {
    while (ticks == 0) std::this_thread::yield();
    loop.Post([&] { taskRan = true; });
    // A loop that slept through the post would otherwise hold the test for
    // the whole hour.
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!quitByTick && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!quitByTick) loop.Quit();
  });
  loop.Run();
  poster.join();
  EXPECT_TRUE(quitByTick) << "the posted task did not wake the loop, or no tick followed it";
  EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace brindlex
