// The live monitor's line feed. Lines are appended on the main thread; the
// console shows them, a headless run prints each on standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brindlex {

void SetMonitorSink(std::function<void(const std::string& line)> sink);
// The same sink told the switch of each line's service, or kMonitorAlways
// for a line of no service (a status text, a session closed); replaces the
// sink above. The administration channel hands the switch on to consoles,
// which hide a service's lines themselves rather than never get them.
inline constexpr int kMonitorAlways = -1;
void SetMonitorSwitchSink(std::function<void(const std::string& line, int monitorSwitch)> sink);
// Called after a line, or after the last of the lines handed over at once,
// so that a sink writing to a stream pushes them out together.
void SetMonitorFlush(std::function<void()> flush);

// The monitor's protocol switches: HTTP, FTP, SMTP, POP3, SOCKS5, port
// mapping, DNS; all on at start.
enum MonitorSwitch {
  kMonitorHttp,
  kMonitorFtp,
  kMonitorSmtp,
  kMonitorPop3,
  kMonitorSocks5,
  kMonitorPortMap,
  kMonitorDns
};
inline constexpr int kMonitorSwitches = 7;
bool MonitorShows(int monitorSwitch);
void SetMonitorShows(int monitorSwitch, bool shows);
// Turns off the switches named in a comma-separated list of "http", "ftp",
// "smtp", "pop3", "socks5", "portmap", "dns" (a headless gateway's choice of
// what it prints). False, and nothing changed, when a name is unknown.
bool TurnMonitorSwitchesOff(std::string_view names);
// The switch that governs the lines of a connection service.
int MonitorSwitchOf(std::uint8_t service);
// Main thread only.
void MonitorAppend(const std::string& line, int monitorSwitch = kMonitorAlways);

// From any thread, without waiting for the main thread: the line joins a
// queue that the main thread empties into the monitor, in order, one wake-up
// for whatever has gathered. While kMaxPostedMonitorLines wait, further lines
// are only counted, and one line (string 1244) says how many were left out.
inline constexpr size_t kMaxPostedMonitorLines = 10000;
void MonitorPost(std::string line, int monitorSwitch = kMonitorAlways);
// The same for several lines at once; `lines` is left empty.
void MonitorPost(std::vector<std::string>& lines, int monitorSwitch = kMonitorAlways);
// From any thread: at once on the main thread, posted from any other.
void MonitorShow(const std::string& line, int monitorSwitch = kMonitorAlways);

}  // namespace brindlex
