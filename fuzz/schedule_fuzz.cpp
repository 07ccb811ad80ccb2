// Any schedule text reads without crashing or reading past its end, and the
// schedule it gives survives its own written form.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/schedule.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  brindlex::Schedule schedule = brindlex::ParseSchedule(text);
  std::string written = brindlex::FormatSchedule(schedule);
  if (brindlex::ParseSchedule(written) != schedule) __builtin_trap();
  return 0;
}
