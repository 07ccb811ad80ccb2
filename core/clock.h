// The program clock: a monotonic performance counter in nanoseconds, local
// wall-clock seconds (logs, schedules, day changes) and Greenwich seconds
// (HTTP dates, cache times). Everything that reads time goes through here so
// tests can move time without sleeping.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

namespace brindlex {

inline constexpr std::int64_t kPerformanceFrequency = 1'000'000'000;

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic counts of 1/kPerformanceFrequency seconds.
  virtual std::int64_t PerformanceCounter() = 0;
  // Seconds since 1970 in Greenwich time.
  virtual std::int64_t GreenwichNow() = 0;
  // Seconds since 1970 shifted by the local zone offset, so that the broken-
  // down Greenwich form of the value (gmtime) is the local date and time.
  virtual std::int64_t LocalNow() = 0;
};

class SystemClock final : public Clock {
 public:
  std::int64_t PerformanceCounter() override;
  std::int64_t GreenwichNow() override;
  std::int64_t LocalNow() override;
};

// A clock that only moves when told; for tests. Atomic, as a test moves it
// while workers read it.
class ManualClock final : public Clock {
 public:
  std::int64_t PerformanceCounter() override { return counter; }
  std::int64_t GreenwichNow() override { return local - zoneOffset; }
  std::int64_t LocalNow() override { return local; }
  void Advance(std::int64_t nanoseconds) {
    counter += nanoseconds;
    local = localBase + counter / kPerformanceFrequency;
  }
  std::atomic<std::int64_t> counter = 1;
  std::atomic<std::int64_t> localBase = 0;
  std::atomic<std::int64_t> local = 0;
  std::atomic<std::int64_t> zoneOffset = 0;  // seconds east of Greenwich
};

// The clock in force: the system clock unless a test installed another.
Clock& ProgramClock();
void SetProgramClock(Clock* clock);  // nullptr restores the system clock

// Broken-down local time of a LocalNow() value.
std::tm LocalTm(std::int64_t localSeconds);
// Local seconds for a local date and time (no zone arithmetic involved).
std::int64_t LocalSeconds(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

}  // namespace brindlex
