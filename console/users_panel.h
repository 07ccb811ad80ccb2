// The users page's date panel and its refresh: which parts a view shows, the
// dates it covers, the reading of a typed date and the counter rebuild.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "console/console_engine.h"
#include "console/users_view.h"

namespace brindlex {

// A span of local dates (local seconds at midnight), both ends included.
struct DateSpan {
  std::int64_t first = 0;
  std::int64_t last = 0;
  bool operator==(const DateSpan&) const = default;
};

struct UsersPanel {
  bool datePanel = false;      // dates, calendars, refresh, subscription-users switch
  bool datesEditable = false;  // the date edits and the calendar buttons
  bool ticketButton = false;
};
UsersPanel PanelOf(UsersView view);

// The dates a view covers at local time `now`: the billing month up to today
// (view 0), today (view 1), the chosen interval or else today (view 2);
// nothing in the subscription views.
std::optional<DateSpan> ViewDates(UsersView view, std::int64_t now, int billingDay,
                                  const std::optional<DateSpan>& interval);

// A date typed into an interval edit ("dd.mm.yyyy"), as local seconds; when
// it does not convert, `warning` gets the text of the box captioned Str(780).
std::optional<std::int64_t> ParseIntervalDate(std::string_view text, std::string& warning);

using RebuildProgressFn = std::function<void(const std::string& file, std::int64_t fileDone, std::int64_t fileSize,
                                             std::int64_t allDone, std::int64_t allSize)>;
// "Refresh": rebuilds the counters of a period view over its dates; false,
// and nothing asked of the engine, in the subscription views.
bool RefreshCounters(ConsoleEngine& engine, UsersView view, const DateSpan& dates, const RebuildProgressFn& progress);

}  // namespace brindlex
