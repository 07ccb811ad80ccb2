#include "console/calendar_month.h"

#include <string_view>

#include "core/clock.h"
#include "core/strings.h"

namespace brindlex {

std::array<std::int64_t, kCalendarCells> CalendarMonthDays(int year, int month) {
  const std::int64_t first = LocalSeconds(year, month, 1);
  // tm_wday counts from Sunday; the grid's weeks start on Monday.
  const int sinceMonday = (LocalTm(first).tm_wday + 6) % 7;
  std::array<std::int64_t, kCalendarCells> days{};
  for (int cell = 0; cell < kCalendarCells; ++cell) {
    // Through the calendar fields, not by adding 86400: a day with a clock
    // change is not 86400 seconds long.
    days[cell] = LocalSeconds(year, month, 1 - sinceMonday + cell);
  }
  return days;
}

std::string MonthName(int month) {
  if (month < 1 || month > 12) return {};
  std::string_view names = StrC(995);
  for (int skip = 1; skip < month; ++skip) {
    const size_t separator = names.find(';');
    if (separator == std::string_view::npos) return {};
    names.remove_prefix(separator + 1);
  }
  return std::string(names.substr(0, names.find(';')));
}

}  // namespace brindlex
