#include "core/clock.h"

#include <atomic>
#include <chrono>

namespace brindlex {

std::int64_t SystemClock::PerformanceCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int64_t SystemClock::GreenwichNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int64_t SystemClock::LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<std::int64_t>(now) + local.tm_gmtoff;
}

namespace {
SystemClock g_systemClock;
std::atomic<Clock*> g_clock{&g_systemClock};
}  // namespace

Clock& ProgramClock() { return *g_clock.load(std::memory_order_acquire); }

void SetProgramClock(Clock* clock) { g_clock.store(clock ? clock : &g_systemClock, std::memory_order_release); }

std::tm LocalTm(std::int64_t localSeconds) {
  std::time_t t = static_cast<std::time_t>(localSeconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

std::int64_t LocalSeconds(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<std::int64_t>(timegm(&tm));
}

}  // namespace brindlex
