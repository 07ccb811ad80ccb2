#include "core/schedule.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace brindlex {
namespace {

// The allowed hours (0-based) of each day, as a readable expectation.
using Week = std::vector<std::vector<int>>;

Week AllowedHours(const Schedule& schedule) {
  Week week(kScheduleDays);
  for (int day = 0; day < kScheduleDays; ++day)
    for (int hour = 0; hour < kScheduleHoursPerDay; ++hour)
      if (ScheduleAllows(schedule, day, hour)) week[static_cast<size_t>(day)].push_back(hour);
  return week;
}

std::vector<int> Range(int first, int last) {
  std::vector<int> hours;
  for (int h = first; h <= last; ++h) hours.push_back(h);
  return hours;
}

TEST(ScheduleTest, ReadsStoredTexts) {
  const std::vector<int> allDay = Range(0, 23);
  const Week workWeek = {allDay, allDay, allDay, allDay, allDay, {}, {}};
  struct Case {
    const char* text;
    Week expected;
  } cases[] = {
      {"1-24/1-24/1-24/1-24/1-24///", workWeek},
      {"1-24/1-24/1-24/1-24/1-24/", workWeek},  // ends after the fifth day
      {"10-18,21/",
       {[] {
          auto h = Range(9, 17);
          h.push_back(20);
          return h;
        }(),
        {},
        {},
        {},
        {},
        {},
        {}}},
      {"0,5/6/", {{}, {5}, {}, {}, {}, {}, {}}},    // a 0 skips the rest of its day
      {"3-x,4/5/", {{}, {4}, {}, {}, {}, {}, {}}},  // so does an unreadable run
      {"5;7/8/", {{4}, {}, {}, {}, {}, {}, {}}},    // any other character ends the text
      {"20-30,25/", {Range(19, 23), {}, {}, {}, {}, {}, {}}},
      {"5-3/", {{}, {}, {}, {}, {}, {}, {}}},
      {"///////1-24/", {{}, {}, {}, {}, {}, {}, {}}},  // nothing after the seventh day
      {"", {{}, {}, {}, {}, {}, {}, {}}},
      {"99999999999999999999-1/2", {{}, {1}, {}, {}, {}, {}, {}}},
  };
  for (const Case& c : cases) EXPECT_EQ(AllowedHours(ParseSchedule(c.text)), c.expected) << c.text;
}

TEST(ScheduleTest, WritesRunsPerDay) {
  Schedule schedule{};
  for (int h = 9; h <= 17; ++h) schedule[static_cast<size_t>(h)] = 1;
  schedule[20] = 1;
  for (int h = 0; h < 24; ++h) schedule[static_cast<size_t>(24 + h)] = 1;
  schedule[6 * 24 + 23] = 1;
  EXPECT_EQ(FormatSchedule(schedule), "10-18,21/1-24/////24/");
  EXPECT_EQ(FormatSchedule(Schedule{}), "///////");
  EXPECT_EQ(FormatSchedule(FullSchedule()), "1-24/1-24/1-24/1-24/1-24/1-24/1-24/");
}

TEST(ScheduleTest, AnyScheduleSurvivesItsText) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    Schedule schedule;
    for (auto& hour : schedule) hour = static_cast<std::uint8_t>(random() % 3 == 0);
    std::string text = FormatSchedule(schedule);
    EXPECT_EQ(std::count(text.begin(), text.end(), '/'), 7);
    EXPECT_EQ(ParseSchedule(text), schedule) << text;
  }
}

TEST(ScheduleTest, OutOfRangeHoursAreNeverAllowed) {
  Schedule full = FullSchedule();
  EXPECT_FALSE(ScheduleAllows(full, -1, 0));
  EXPECT_FALSE(ScheduleAllows(full, 7, 0));
  EXPECT_FALSE(ScheduleAllows(full, 0, 24));
  EXPECT_TRUE(ScheduleAllows(full, 6, 23));
}

}  // namespace
}  // namespace brindlex
