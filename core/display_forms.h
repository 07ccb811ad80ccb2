// How counters are shown: on the console, in e-mail reports, on the users'
// web pages and in the headless figures print-out.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "core/counters.h"

namespace brindlex {

// The no-value mark: shown as empty text.
inline constexpr std::int64_t kNoValue = std::numeric_limits<std::int64_t>::min();

// "h:mm:ss" from seconds; a negative value as a plain integer.
std::string FormatSeconds(std::int64_t seconds);
// The same from milliseconds.
std::string FormatMilliseconds(std::int64_t milliseconds);

enum class TrafficUnit { KbAndMb, Bytes, Kb, Mb };
// Traffic in the chosen unit; `corrected` applies CorrectTraffic first.
std::string FormatTraffic(std::int64_t bytes, TrafficUnit unit = TrafficUnit::KbAndMb, bool corrected = false);
// The same with the megabyte given (1024 x KbPerMb bytes), for a reader that
// has only a copy of the settings, such as the console.
std::string FormatTrafficIn(std::int64_t bytes, TrafficUnit unit, std::int64_t bytesPerMb);
// Scaled money as base currency with at most two decimals.
std::string FormatMoney(std::int64_t scaled);
// The same with the megabyte given: money is scaled by 1000 x bytesPerMb.
std::string FormatMoneyIn(std::int64_t scaled, std::int64_t bytesPerMb);

// Dates and times as the pages, the statistics and the reports show them:
// "dd.mm.yyyy", "hh:nn:ss" and "dd.mm.yyyy hh:nn:ss", from local seconds.
std::string FormatShortDate(std::int64_t localSeconds);
std::string FormatTimeOfDay(std::int64_t localSeconds);
std::string FormatDateAndTime(std::int64_t localSeconds);
// Reads either form back (blanks around allowed) into local seconds; `hasTime`
// tells which form it was. False for anything else, a date that does not
// exist included.
bool ParseDateAndTime(std::string_view text, std::int64_t& localSeconds, bool& hasTime);

// "time 1:02:03, out 10 (0.01), in 2048 (2), money 2.5, national 0"
std::string FormatCounterBlock(const CounterBlock& block);

// One line per user (not deleted) with his day and month figures; takes the
// accounts lock.
std::string UserFiguresReport();

}  // namespace brindlex
