#include <gtest/gtest.h>
#include <string>

#include "console/speed_view.h"
#include "console/status_texts.h"

namespace brindlex {
namespace {

SpeedSlots Slots(std::int32_t fill) { return SpeedSlots(300, fill); }

SpeedFigures Max(std::int64_t maximum) { return {true, maximum, maximum}; }

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
  EXPECT_EQ(figures.average, 1000) << "(1000 + 2001 + 0) / 3, whole";
}

TEST(ConsoleSpeedView, ScaleStepsUpAndDownBy5120) {
  EXPECT_EQ(NextSpeedScale(1024, SpeedFigures{}), 1024);
  EXPECT_EQ(NextSpeedScale(20480, SpeedFigures{}), 1024) << "no data";
  EXPECT_EQ(NextSpeedScale(1024, Max(1024)), 1024);
  EXPECT_EQ(NextSpeedScale(1024, Max(1025)), 5120);
  EXPECT_EQ(NextSpeedScale(1024, Max(12000)), 15360);
  EXPECT_EQ(NextSpeedScale(5120, Max(10240)), 10240);
  EXPECT_EQ(NextSpeedScale(10240, Max(10241)), 15360);
  EXPECT_EQ(NextSpeedScale(15360, Max(10240)), 15360) << "not below the scale minus a step";
  EXPECT_EQ(NextSpeedScale(15360, Max(10239)), 10240);
  EXPECT_EQ(NextSpeedScale(30720, Max(100)), 5120);
  EXPECT_EQ(NextSpeedScale(5120, Max(100)), 5120);
  EXPECT_EQ(NextSpeedScale(30720, Max(0)), 1024);
}

TEST(ConsoleSpeedView, TheWindowFollowsItsHistory) {
  SpeedWindow window;
  EXPECT_EQ(window.Scale(), 1024);
  SpeedSlots slots = Slots(-1);
  slots[1] = 30000;
  window.Update(slots);
  EXPECT_EQ(window.Scale(), 30720);
  slots[1] = 4000;
  window.Update(slots);
  EXPECT_EQ(window.Scale(), 5120);
  window.Update(Slots(-1));
  EXPECT_EQ(window.Scale(), 1024);
}

TEST(ConsoleSpeedView, BarHeights) {
  SpeedSlots slots = {-1, 0, 1, 2560, 5120, 7680};
  EXPECT_EQ(SpeedBarHeights(slots, 100, 5120), (std::vector<int>{0, 0, 1, 50, 100, 150}));
  EXPECT_EQ(SpeedBarHeights(slots, 10, 1024), (std::vector<int>{0, 0, 1, 25, 50, 75}));
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
  EXPECT_EQ(StatusBarText({1, 0}, slots), "1 пользователь, 0 соединений. Ср. скорость: 2.5Кб/сек");
  // Each count agrees with its own noun, by its last two digits.
  EXPECT_EQ(StatusBarText({21, 22}, Slots(-1)), "21 пользователь, 22 соединения.");
  EXPECT_EQ(StatusBarText({11, 111}, Slots(-1)), "11 пользователей, 111 соединений.");
  EXPECT_EQ(StatusBarText({104, 1}, Slots(-1)), "104 пользователя, 1 соединение.");
}

}  // namespace
}  // namespace brindlex
