// The weekly schedule: one flag per hour of the week, Monday first, hour 0
// (00:00-00:59) first; 1 allows work in that hour.
//
// Its stored text lists, for each day, the allowed hours as comma-separated
// runs of 1-based hour numbers ("10-18,21"), each day closed by '/':
// "1-24/" is a whole day, "/" an empty one. Pure functions, any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace brindlex {

inline constexpr int kScheduleDays = 7;
inline constexpr int kScheduleHoursPerDay = 24;
using Schedule = std::array<std::uint8_t, kScheduleDays * kScheduleHoursPerDay>;

// Every hour allowed.
Schedule FullSchedule();

// Reads a stored text. Never fails: whatever cannot be read leaves its hours
// disallowed, and the reader never looks past the end of `text`.
Schedule ParseSchedule(std::string_view text);

// The stored text; always seven '/'.
std::string FormatSchedule(const Schedule& schedule);

// Whether work is allowed on `day` (Monday = 0 ... Sunday = 6) at `hour`
// (0..23). Out-of-range arguments are never allowed.
bool ScheduleAllows(const Schedule& schedule, int day, int hour);

}  // namespace brindlex
