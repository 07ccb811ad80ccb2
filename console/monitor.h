// The live monitor's line feed. Lines are appended on the main thread; the
// console shows them, a headless run prints each on standard output.
#pragma once

#include <functional>
#include <string>

namespace brindlex {

void SetMonitorSink(std::function<void(const std::string& line)> sink);
// Main thread only.
void MonitorAppend(const std::string& line);

}  // namespace brindlex
