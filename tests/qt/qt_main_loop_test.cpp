#include "console/qt/qt_main_loop.h"

#include <QApplication>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace brindlex {
namespace {

TEST(QtMainLoop, WorkersRunSyncOnTheMainThreadAndTheTickRunsUntilQuit) {
  QtMainLoop loop;
  const std::thread::id main = std::this_thread::get_id();
  std::atomic<int> ranOnMain{0};
  std::atomic<int> ticks{0};
  loop.SetTick([&] {
    ++ticks;
    return std::chrono::milliseconds(10);
  });
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i)
    workers.emplace_back([&] {
      int local = 0;
      loop.RunSync([&] {
        if (std::this_thread::get_id() == main) ++ranOnMain;
        local = 1;
      });
      EXPECT_EQ(local, 1) << "RunSync returned before the function ran";
    });
  std::thread quitter([&] {
    for (auto& worker : workers) worker.join();
    // Quit comes from another thread, as SIGTERM's does.
    while (ticks < 2) std::this_thread::yield();
    loop.Quit();
  });
  loop.Run();
  quitter.join();
  EXPECT_EQ(ranOnMain, 4);
  // After Run the tick is over; shutdown's pumping serves waiting callers.
  const int ticksAtEnd = ticks;
  std::atomic<bool> served{false};
  std::thread late([&] { loop.RunSync([&] { served = true; }); });
  while (!served) loop.Pump();
  late.join();
  loop.Pump();
  EXPECT_EQ(ticks, ticksAtEnd);
}

TEST(QtMainLoop, PostedWorkRunsInOrderOnThePump) {
  QtMainLoop loop;
  std::vector<int> order;
  loop.Post([&] { order.push_back(1); });
  loop.Post([&] { order.push_back(2); });
  EXPECT_TRUE(order.empty());
  loop.Pump();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace brindlex
