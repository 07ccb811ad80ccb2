#include <gtest/gtest.h>
#include <string>

#include "console/speed_view.h"
#include "console/status_texts.h"

namespace brindlex {
namespace {

SpeedSlots Slots(std::int32_t fill) { return SpeedSlots(300, fill); }

TEST(ConsoleSpeedView, Captions) {
  EXPECT_EQ(SpeedCaption(SpeedSubject::kUser, "Ivan"), "Скорость пользователя \"Ivan\"");
  EXPECT_EQ(SpeedCaption(SpeedSubject::kGroup, "Office"), "Скорость группы \"Office\"");
  EXPECT_EQ(SpeedCaption(SpeedSubject::kProgram, "ignored"), "Скорость итого");
}

TEST(ConsoleSpeedView, FiguresLeaveOutSlotZeroAndEmptySlots) {
  SpeedSlots slots = Slots(-1);
  EXPECT_FALSE(MeasureSpeed(slots).hasData);
  slots[0] = 900000;
  EXPECT_FALSE(MeasureSpeed(slots).hasData) << "slot 0 is still being filled";
  slots[1] = 1000;
  slots[299] = 2001;
  slots[150] = 0;
  const SpeedFigures figures = MeasureSpeed(slots);
  EXPECT_TRUE(figures.hasData);
  EXPECT_EQ(figures.maximum, 2001);
  EXPECT_EQ(figures.average, 10) << "(1000 + 2001) over the 299 seconds since slot 299, whole";
}

// One burst and then nothing: the average is the burst's while it is the
// only second, and falls as idle seconds follow it; the maximum stays.
TEST(ConsoleSpeedView, AnIdleLineMakesTheAverageFallAfterABurst) {
  SpeedSlots slots = Slots(-1);
  slots[1] = 3'601'408;  // 3517 Kb in one second
  EXPECT_EQ(MeasureSpeed(slots).average, 3'601'408);
  std::int64_t before = MeasureSpeed(slots).average;
  for (int idle = 1; idle < 298; ++idle) {
    // The timer's shift: every second moves the burst one slot older.
    slots.insert(slots.begin(), -1);
    slots.pop_back();
    const SpeedFigures figures = MeasureSpeed(slots);
    ASSERT_TRUE(figures.hasData);
    EXPECT_EQ(figures.maximum, 3'601'408);
    EXPECT_EQ(figures.average, 3'601'408 / (idle + 1)) << idle << " idle seconds";
    EXPECT_LT(figures.average, before);
    before = figures.average;
  }
  slots.assign(300, -1);
  slots[2] = 2048;
  slots[1] = 0;  // a second that moved nothing but was counted
  EXPECT_EQ(MeasureSpeed(slots).average, 1024);
}

// A history whose slots 1, 2, ... hold `values`, the rest empty.
SpeedSlots Recent(std::initializer_list<std::int32_t> values) {
  SpeedSlots slots = Slots(-1);
  std::size_t slot = 1;
  for (std::int32_t value : values) slots[slot++] = value;
  return slots;
}

TEST(ConsoleSpeedView, TheScaleIsARoundNumberAboveTheHeldSpeed) {
  EXPECT_EQ(SpeedScaleFor(Slots(-1)), 1024) << "no data";
  EXPECT_EQ(SpeedScaleFor(Slots(0)), 1024) << "idle";
  EXPECT_EQ(SpeedScaleFor(Recent({1024, 1024})), 1024);
  EXPECT_EQ(SpeedScaleFor(Recent({1025, 1025})), 2048);
  EXPECT_EQ(SpeedScaleFor(Recent({3000, 3000})), 5120);
  EXPECT_EQ(SpeedScaleFor(Recent({6000, 5200})), 10240);
  EXPECT_EQ(SpeedScaleFor(Recent({300000, 300000})), 512000);
  EXPECT_EQ(SpeedScaleFor(Recent({600000, 600000})), 1024000);
  // Slot 0 is still filling and is not shown.
  SpeedSlots filling = Recent({100, 100});
  filling[0] = 900000;
  EXPECT_EQ(SpeedScaleFor(filling), 1024);
}

TEST(ConsoleSpeedView, ALoneBurstDoesNotFlattenTheLine) {
  // Steady 3 KB/s with one second at 2 MB/s four minutes ago.
  SpeedSlots slots = Slots(3000);
  slots[240] = 2 * 1024 * 1024;
  EXPECT_EQ(SpeedScaleFor(slots), 5120);
  const std::vector<int> bars = SpeedBarHeights(slots, 100, SpeedScaleFor(slots));
  EXPECT_EQ(bars[239], 58) << "the live line keeps its height";
  EXPECT_EQ(bars[240], 100) << "the burst is cut at the top";
  EXPECT_TRUE(SpeedBarClipped(slots[240], SpeedScaleFor(slots)));
  EXPECT_FALSE(SpeedBarClipped(slots[239], SpeedScaleFor(slots)));
  // Two seconds running are traffic, not a burst.
  slots[241] = 2 * 1024 * 1024;
  EXPECT_EQ(SpeedScaleFor(slots), 5000 * 1024) << "2048 KB/s under 5000 KB/s";
  // Only bursts, no two seconds together: the highest sets the scale.
  EXPECT_EQ(SpeedScaleFor(Recent({0, 7000, 0, 0, 400})), 10240);
}

TEST(ConsoleSpeedView, TheWindowFollowsItsHistory) {
  SpeedWindow window;
  EXPECT_EQ(window.Scale(), 1024);
  SpeedSlots slots = Slots(-1);
  slots[1] = 30000;
  slots[2] = 30000;
  window.Update(slots);
  EXPECT_EQ(window.Scale(), 51200);
  slots[1] = 4000;
  slots[2] = 4000;
  window.Update(slots);
  EXPECT_EQ(window.Scale(), 5120) << "it comes down as soon as the traffic shown does";
  window.Update(Slots(-1));
  EXPECT_EQ(window.Scale(), 1024);
}

TEST(ConsoleSpeedView, BarHeights) {
  SpeedSlots slots = {-1, 0, 1, 2560, 5120, 7680};
  EXPECT_EQ(SpeedBarHeights(slots, 100, 5120), (std::vector<int>{0, 0, 1, 50, 100, 100}));
  EXPECT_EQ(SpeedBarHeights(slots, 10, 1024), (std::vector<int>{0, 0, 1, 10, 10, 10}));
  EXPECT_EQ(SpeedBarHeights(slots, 200, 10240), (std::vector<int>{0, 0, 1, 50, 100, 150}));
  EXPECT_EQ(SpeedScaleLabel(5120, 0), "0");
  EXPECT_EQ(SpeedScaleLabel(5120, 3), "3");
  EXPECT_EQ(SpeedScaleLabel(1024, 1), "0.2");
}

TEST(ConsoleSpeedView, StatusFields) {
  SpeedWindow window;
  window.Update(Slots(-1));
  SpeedStatusTexts texts = window.StatusTexts();
  EXPECT_EQ(texts.current, "Скорость:-");
  EXPECT_EQ(texts.average, "Средняя:-");
  EXPECT_EQ(texts.maximum, "Макс:-");
  SpeedSlots slots = Slots(-1);
  slots[1] = 1536;
  slots[2] = 3584;
  window.Update(slots);
  texts = window.StatusTexts();
  EXPECT_EQ(texts.current, "Скорость:1.5Кб/сек");
  EXPECT_EQ(texts.average, "Средняя:2.5Кб/сек");
  EXPECT_EQ(texts.maximum, "Макс:3.5Кб/сек");
  slots[1] = -1;
  window.Update(slots);
  EXPECT_EQ(window.StatusTexts().current, "Скорость:-");
  EXPECT_EQ(window.StatusTexts().maximum, "Макс:3.5Кб/сек");
}

TEST(ConsoleStatusTexts, UsersConnectionsAndTheAverageSpeed) {
  EXPECT_EQ(StatusBarText({3, 7}, Slots(-1)), "3 пользователя, 7 соединений.");
  SpeedSlots slots = Slots(-1);
  slots[0] = 1 << 30;
  slots[5] = 1024;
  slots[6] = 4096;
  EXPECT_EQ(StatusBarText({1, 0}, slots), "1 пользователь, 0 соединений. Ср. скорость: 0.83Кб/сек")
      << "5120 bytes over the six seconds since slot 6";
  // Each count agrees with its own noun, by its last two digits.
  EXPECT_EQ(StatusBarText({21, 22}, Slots(-1)), "21 пользователь, 22 соединения.");
  EXPECT_EQ(StatusBarText({11, 111}, Slots(-1)), "11 пользователей, 111 соединений.");
  EXPECT_EQ(StatusBarText({104, 1}, Slots(-1)), "104 пользователя, 1 соединение.");
}

}  // namespace
}  // namespace brindlex
