#include <gtest/gtest.h>

#include "console/calendar_month.h"
#include "console/captions.h"
#include "core/clock.h"
#include "core/strings.h"

namespace brindlex {
namespace {

TEST(ConsoleCaptions, NumberedCaptionsComeFromTheTableAndOthersStay) {
  EXPECT_EQ(LocalisedCaption("#50"), "Пользователи");
  EXPECT_EQ(LocalisedCaption("#104"), Str(104));
  for (const char* unchanged : {"#", "#5x", "# 50", "HTTP", "", "50"})
    EXPECT_EQ(LocalisedCaption(unchanged), unchanged);
}

TEST(CalendarMonth, SixWeeksFromTheMondayOnOrBeforeTheFirst) {
  // 1 December 2026 is a Tuesday: the page opens on Monday 30 November.
  auto days = CalendarMonthDays(2026, 12);
  EXPECT_EQ(days.front(), LocalSeconds(2026, 11, 30));
  EXPECT_EQ(days[1], LocalSeconds(2026, 12, 1));
  EXPECT_EQ(days.back(), LocalSeconds(2027, 1, 10));
  // 1 June 2026 is a Monday: it opens the page itself.
  days = CalendarMonthDays(2026, 6);
  EXPECT_EQ(days.front(), LocalSeconds(2026, 6, 1));
  EXPECT_EQ(LocalTm(days.front()).tm_wday, 1);
  // Every cell is one calendar day after the one before it.
  for (int cell = 1; cell < kCalendarCells; ++cell)
    EXPECT_EQ(LocalTm(days[cell]).tm_yday, (LocalTm(days[cell - 1]).tm_yday + 1) % 365) << cell;
}

TEST(CalendarMonth, MonthNamesFromOneStringOfTheTable) {
  EXPECT_EQ(MonthName(1), "Январь");
  EXPECT_EQ(MonthName(12), "Декабрь");
  EXPECT_EQ(MonthName(0), "");
  EXPECT_EQ(MonthName(13), "");
}

}  // namespace
}  // namespace brindlex
