// A monitor push as a console reads it, and the text the monitor shows for
// the line it carries: both read only the bytes given; an entry that reads
// encodes back to the same payload, and its shown text ends with the line's
// last field untouched.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/monitor_view.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view payload(reinterpret_cast<const char*>(data), size);
  const MonitorEntry entry = MonitorEntryOfPush(payload);
  if (entry.monitorSwitch < kMonitorAlways || entry.monitorSwitch >= kMonitorSwitches) __builtin_trap();
  if (!payload.empty() && payload[0] == '\0' && !entry.line.empty()) {
    // A switch out of range reads as kMonitorAlways, so only a known one
    // encodes back byte for byte.
    if (entry.monitorSwitch != kMonitorAlways && MonitorPushPayload(entry) != payload) __builtin_trap();
  }
  const std::string text = MonitorText(entry);
  if (text.size() < entry.line.size()) __builtin_trap();

  // The raw bytes as a line of their own, with a message beside them.
  MonitorEntry raw{std::string(payload), kMonitorHttp, 0, "text"};
  MonitorText(raw);
  MonitorLines lines;
  lines.Add(raw);
  lines.SelectedUrl();
  return 0;
}
