#include "core/date_time.h"

#include <cmath>

#include "core/clock.h"

namespace brindlex {

namespace {
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kDaysBefore1970 = 25569;  // 30 December 1899 to 1 January 1970
constexpr std::int64_t kMinSerialDay = -693593;  // 1 January 0001
constexpr std::int64_t kMaxSerialDay = 2958465;  // 31 December 9999
}  // namespace

double LocalSecondsToDateTime(std::int64_t localSeconds) {
  const std::int64_t lowest = (kMinSerialDay - kDaysBefore1970) * kSecondsPerDay;
  const std::int64_t highest = (kMaxSerialDay - kDaysBefore1970) * kSecondsPerDay + kSecondsPerDay - 1;
  if (localSeconds < lowest) localSeconds = lowest;
  if (localSeconds > highest) localSeconds = highest;
  std::int64_t day = localSeconds / kSecondsPerDay;
  std::int64_t second = localSeconds % kSecondsPerDay;
  if (second < 0) {
    second += kSecondsPerDay;
    --day;
  }
  std::int64_t serialDay = day + kDaysBefore1970;
  double fraction = static_cast<double>(second) / kSecondsPerDay;
  // Before 30 December 1899 the fraction still counts forward from midnight.
  return serialDay >= 0 ? static_cast<double>(serialDay) + fraction : static_cast<double>(serialDay) - fraction;
}

std::int64_t DateTimeToLocalSeconds(double dateTime) {
  if (!std::isfinite(dateTime)) dateTime = 0;
  double whole = std::trunc(dateTime);
  double fraction = std::fabs(dateTime - whole);
  if (whole < kMinSerialDay) {
    whole = kMinSerialDay;
    fraction = 0;
  } else if (whole > kMaxSerialDay) {
    whole = kMaxSerialDay;
    fraction = 1 - 1.0 / kSecondsPerDay;
  }
  std::int64_t serialDay = static_cast<std::int64_t>(whole);
  std::int64_t second = std::llround(fraction * kSecondsPerDay);
  return (serialDay - kDaysBefore1970) * kSecondsPerDay + second;
}

double DateTimeNow() { return LocalSecondsToDateTime(ProgramClock().LocalNow()); }

}  // namespace brindlex
