#include "console/monitor.h"

namespace brindlex {

namespace {
std::function<void(const std::string&)> g_sink;
}

void SetMonitorSink(std::function<void(const std::string& line)> sink) { g_sink = std::move(sink); }

void MonitorAppend(const std::string& line) {
  if (g_sink) g_sink(line);
}

}  // namespace brindlex
