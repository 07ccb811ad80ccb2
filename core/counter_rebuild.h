// Rebuilding the users' counters from the daily session logs: at start-up for
// the billing month, for today, or for a date interval the console picks.
// The logs are the only store of the counters, so this is how figures survive
// restarts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/counters.h"

namespace brindlex {

enum class RebuildMode { BillingMonth = 0, Today = 1, Interval = 2 };

// Local dates (local seconds at midnight) of the billing month up to today:
// from the billing day of this month, or of the previous month when today's
// day of month is smaller.
std::vector<std::int64_t> BillingMonthDays(std::int64_t today, int billingDay);
// Every date from `first` to `last`, both included.
std::vector<std::int64_t> DaysBetween(std::int64_t first, std::int64_t last);

// One line of a session log: the login (field 1) and the five values of
// fields 5 to 9 (time, incoming, outgoing, money, national money).
struct SessionLogEntry {
  std::string_view login;       // unescaped: into the line, or into unescapedLogin
  std::string unescapedLogin;
  CounterBlock values;
};
// False for a line without a login.
bool ParseSessionLogLine(std::string_view line, SessionLogEntry& entry);

struct RebuildProgress {
  std::string file;
  std::int64_t fileDone = 0;
  std::int64_t fileSize = 0;
  std::int64_t allDone = 0;
  std::int64_t allSize = 0;

  bool operator==(const RebuildProgress&) const = default;
};

// Recomputes the month and day blocks (mode 0), the day blocks (mode 1) or
// the period blocks (mode 2, for the dates given) of every user. Modes 0 and 1
// hold the accounts lock and add the not yet logged counters of open
// sessions. `today` is local seconds.
void RebuildCounters(RebuildMode mode, std::int64_t today, std::int64_t intervalFirst = 0,
                     std::int64_t intervalLast = 0, const std::function<void(const RebuildProgress&)>& progress = {});

}  // namespace brindlex
