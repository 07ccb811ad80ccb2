// The date dialog's month page: six weeks, Monday first, around the month
// shown, and the names of the months.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace brindlex {

inline constexpr int kCalendarCells = 6 * 7;

// Local seconds at midnight of every cell: the grid starts on the Monday on
// or before the first of the month (a month starting on a Monday starts the
// grid, it does not follow a week of the last month).
std::array<std::int64_t, kCalendarCells> CalendarMonthDays(int year, int month);

// Month 1..12 as the month box names it (the twelve names of one string of
// the table, separated by ';'); empty outside 1..12.
std::string MonthName(int month);

}  // namespace brindlex
