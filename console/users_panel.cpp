#include "console/users_panel.h"

#include "core/clock.h"
#include "core/counter_rebuild.h"
#include "core/display_forms.h"
#include "core/strings.h"

namespace brindlex {

UsersPanel PanelOf(UsersView view) {
  const bool period = IsPeriodView(view);
  return {period, view == UsersView::kInterval, !period};
}

std::optional<DateSpan> ViewDates(UsersView view, std::int64_t now, int billingDay,
                                  const std::optional<DateSpan>& interval) {
  const std::tm tm = LocalTm(now);
  const std::int64_t today = LocalSeconds(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  switch (view) {
    case UsersView::kMonth:
      return DateSpan{BillingMonthDays(today, billingDay).front(), today};
    case UsersView::kDay:
      return DateSpan{today, today};
    case UsersView::kInterval:
      return interval.value_or(DateSpan{today, today});
    case UsersView::kTicketUsed:
    case UsersView::kTicketRemaining:
      break;
  }
  return std::nullopt;
}

std::optional<std::int64_t> ParseIntervalDate(std::string_view text, std::string& warning) {
  std::int64_t date = 0;
  bool hasTime = false;
  if (ParseDateAndTime(text, date, hasTime) && !hasTime) return date;
  warning = "\"" + std::string(text) + "\"- " + Str(783);
  return std::nullopt;
}

bool RefreshCounters(ConsoleEngine& engine, UsersView view, const DateSpan& dates, const RebuildProgressFn& progress) {
  if (!IsPeriodView(view)) return false;
  engine.RebuildCounters(static_cast<RebuildView>(view), dates.first, dates.last, progress);
  return true;
}

}  // namespace brindlex
