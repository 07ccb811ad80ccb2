#include "core/monitor.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <iterator>
#include <mutex>
#include <utility>

#include "core/main_loop.h"
#include "core/strings.h"

namespace brindlex {

namespace {
std::function<void(const std::string&, int)> g_sink;
std::function<void()> g_flush;

void Flush() {
  if (g_flush) g_flush();
}

void Show(const std::string& line, int monitorSwitch) {
  if (g_sink) g_sink(line, monitorSwitch);
}
std::atomic<bool> g_shows[kMonitorSwitches] = {true, true, true, true, true, true, true};

std::mutex g_postedLock;                           // guards the three below
std::deque<std::pair<std::string, int>> g_posted;  // a line and its switch
size_t g_leftOut = 0;
bool g_drainPosted = false;

void DrainPosted() {
  std::deque<std::pair<std::string, int>> lines;
  size_t leftOut = 0;
  {
    std::lock_guard<std::mutex> lock(g_postedLock);
    lines.swap(g_posted);
    std::swap(leftOut, g_leftOut);
    g_drainPosted = false;
  }
  for (const auto& [line, monitorSwitch] : lines) Show(line, monitorSwitch);
  if (leftOut > 0) {
    char text[256];
    std::snprintf(text, sizeof(text), StrC(1244), leftOut);
    Show(text, kMonitorAlways);
  }
  Flush();
}
}  // namespace

bool MonitorShows(int monitorSwitch) {
  return monitorSwitch >= 0 && monitorSwitch < kMonitorSwitches && g_shows[monitorSwitch].load();
}

void SetMonitorShows(int monitorSwitch, bool shows) {
  if (monitorSwitch >= 0 && monitorSwitch < kMonitorSwitches) g_shows[monitorSwitch] = shows;
}

bool TurnMonitorSwitchesOff(std::string_view names) {
  static constexpr std::string_view kNames[kMonitorSwitches] = {"http",   "ftp",     "smtp", "pop3",
                                                                "socks5", "portmap", "dns"};
  std::vector<int> off;
  while (!names.empty()) {
    size_t comma = names.find(',');
    std::string_view name = names.substr(0, comma);
    names = comma == std::string_view::npos ? std::string_view() : names.substr(comma + 1);
    const auto* found = std::find(std::begin(kNames), std::end(kNames), name);
    if (found == std::end(kNames)) return false;
    off.push_back(static_cast<int>(found - std::begin(kNames)));
  }
  for (int monitorSwitch : off) SetMonitorShows(monitorSwitch, false);
  return true;
}

int MonitorSwitchOf(std::uint8_t service) {
  static constexpr int kSwitches[] = {kMonitorHttp, kMonitorHttp,   kMonitorFtp,     kMonitorFtp,    kMonitorSmtp,
                                      kMonitorPop3, kMonitorSocks5, kMonitorPortMap, kMonitorPortMap};
  return service < std::size(kSwitches) ? kSwitches[service] : -1;
}

void SetMonitorSink(std::function<void(const std::string& line)> sink) {
  if (sink)
    g_sink = [sink = std::move(sink)](const std::string& line, int) { sink(line); };
  else
    g_sink = nullptr;
}

void SetMonitorSwitchSink(std::function<void(const std::string& line, int monitorSwitch)> sink) {
  g_sink = std::move(sink);
}

void SetMonitorFlush(std::function<void()> flush) { g_flush = std::move(flush); }

void MonitorAppend(const std::string& line, int monitorSwitch) {
  Show(line, monitorSwitch);
  Flush();
}

void MonitorPost(std::vector<std::string>& lines, int monitorSwitch) {
  {
    std::lock_guard<std::mutex> lock(g_postedLock);
    for (std::string& line : lines) {
      if (g_posted.size() >= kMaxPostedMonitorLines)
        ++g_leftOut;
      else
        g_posted.emplace_back(std::move(line), monitorSwitch);
    }
    lines.clear();
    if (g_drainPosted) return;
    g_drainPosted = true;
  }
  TheMainLoop().Post(DrainPosted);
}

void MonitorShow(const std::string& line, int monitorSwitch) {
  if (OnMainThread())
    MonitorAppend(line, monitorSwitch);
  else
    MonitorPost(line, monitorSwitch);
}

void MonitorPost(std::string line, int monitorSwitch) {
  std::vector<std::string> lines;
  lines.push_back(std::move(line));
  MonitorPost(lines, monitorSwitch);
}

}  // namespace brindlex
