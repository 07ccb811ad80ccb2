// Date-time reals as the settings file and the cache index store them.
#pragma once

#include <cstdint>

namespace brindlex {

// Date-time reals: days since 30 December 1899, the fraction being the time of
// day (also for days before that date, so -1.25 is 29 December 1899 06:00).
// Local seconds are the program clock's LocalNow() values. Both directions
// clamp to the years 1 to 9999; a non-finite real reads as 0. Whole seconds
// survive the round trip exactly.
inline constexpr double kMinDateTime = -693593.0;     // 1 January 0001
inline constexpr double kMaxDateTime = 2958465.9999;  // 31 December 9999, 23:59:51
double LocalSecondsToDateTime(std::int64_t localSeconds);
std::int64_t DateTimeToLocalSeconds(double dateTime);
// The program clock's now as a date-time real.
double DateTimeNow();

}  // namespace brindlex
