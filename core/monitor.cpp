#include "core/monitor.h"

#include <atomic>
#include <iterator>

namespace brindlex {

namespace {
std::function<void(const std::string&)> g_sink;
std::atomic<bool> g_shows[kMonitorSwitches] = {true, true, true, true, true, true, true};
}  // namespace

bool MonitorShows(int monitorSwitch) {
  return monitorSwitch >= 0 && monitorSwitch < kMonitorSwitches && g_shows[monitorSwitch].load();
}

void SetMonitorShows(int monitorSwitch, bool shows) {
  if (monitorSwitch >= 0 && monitorSwitch < kMonitorSwitches) g_shows[monitorSwitch] = shows;
}

int MonitorSwitchOf(std::uint8_t service) {
  static constexpr int kSwitches[] = {kMonitorHttp, kMonitorHttp,   kMonitorFtp,     kMonitorFtp,    kMonitorSmtp,
                                      kMonitorPop3, kMonitorSocks5, kMonitorPortMap, kMonitorPortMap};
  return service < std::size(kSwitches) ? kSwitches[service] : -1;
}

void SetMonitorSink(std::function<void(const std::string& line)> sink) { g_sink = std::move(sink); }

void MonitorAppend(const std::string& line) {
  if (g_sink) g_sink(line);
}

}  // namespace brindlex
