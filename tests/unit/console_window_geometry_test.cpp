#include <gtest/gtest.h>

#include "console/window_geometry.h"

namespace brindlex {
namespace {

const ScreenRect kScreen{0, 0, 1024, 768};

TEST(ConsoleWindowGeometry, ANewWindowGoesOverTheOneItWasOpenedFrom) {
  const ScreenRect main{100, 50, 800, 600};
  EXPECT_EQ(PlaceWindow({0, 0, 400, 300}, kScreen, main, 0), (ScreenRect{300, 200, 400, 300}));
  EXPECT_EQ(PlaceWindow({0, 0, 400, 300}, kScreen, std::nullopt, 0), (ScreenRect{312, 234, 400, 300}));
  // Each further window a step down and right.
  EXPECT_EQ(PlaceWindow({0, 0, 400, 300}, kScreen, main, 2), (ScreenRect{348, 248, 400, 300}));
}

TEST(ConsoleWindowGeometry, NothingLeavesTheScreen) {
  struct Case {
    ScreenRect frame;
    ScreenRect available;
    std::optional<ScreenRect> anchor;
    int cascade;
  } cases[] = {
      {{0, 0, 720, 480}, kScreen, ScreenRect{600, 500, 900, 600}, 0},    // main window hanging off the corner
      {{0, 0, 720, 480}, kScreen, ScreenRect{-500, -300, 900, 600}, 3},  // and off the other one
      {{0, 0, 1600, 1200}, kScreen, std::nullopt, 0},                    // larger than the screen
      {{0, 0, 720, 480}, {1920, 24, 1280, 776}, ScreenRect{1920, 24, 1280, 776}, 40},  // a second screen, panel on top
      {{0, 0, 480, 260}, {0, 0, 800, 600}, ScreenRect{0, 0, 800, 600}, 1000},
  };
  for (const Case& c : cases) {
    const ScreenRect placed = PlaceWindow(c.frame, c.available, c.anchor, c.cascade);
    EXPECT_TRUE(c.available.Contains(placed))
        << placed.x << "," << placed.y << " " << placed.width << "x" << placed.height;
    EXPECT_EQ(placed.width, std::min(c.frame.width, c.available.width));
    EXPECT_EQ(placed.height, std::min(c.frame.height, c.available.height));
  }
}

TEST(ConsoleWindowGeometry, TheCascadeStartsAgainBeforeTheEdge) {
  const ScreenRect frame{0, 0, 400, 300};
  const ScreenRect first = PlaceWindow(frame, kScreen, kScreen, 0);
  int cascade = 1;
  ScreenRect placed = PlaceWindow(frame, kScreen, kScreen, cascade);
  while (placed.x > first.x) {
    EXPECT_EQ(placed.x, first.x + cascade * kCascadeStep);
    EXPECT_TRUE(kScreen.Contains(placed));
    placed = PlaceWindow(frame, kScreen, kScreen, ++cascade);
    ASSERT_LT(cascade, 100);
  }
  EXPECT_EQ(placed, first) << "after " << cascade << " windows";
  EXPECT_GT(cascade, 5) << "the screen had room for several steps";
  // Against the lower right corner the cascade goes up and left.
  const ScreenRect cornered = PlaceWindow(frame, kScreen, ScreenRect{900, 700, 400, 300}, 0);
  EXPECT_EQ(cornered, (ScreenRect{624, 468, 400, 300}));
  EXPECT_EQ(PlaceWindow(frame, kScreen, ScreenRect{900, 700, 400, 300}, 1), (ScreenRect{600, 444, 400, 300}));
}

}  // namespace
}  // namespace brindlex
