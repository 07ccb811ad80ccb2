// The monitor page without its list widget: the lines it holds, the pause
// and the seven protocol switches (which hide lines, never lose them), the
// selection that follows new lines, the text a line is shown with, and what
// "add to filter" takes from the selected line. Also the form in which the
// gateway hands a monitor line to its consoles.
//
// Threads: a MonitorLines belongs to the console's thread; the free
// functions are pure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "console/console_engine.h"

namespace brindlex {

// A line that makes more than kMonitorMostLines cuts the list back to
// kMonitorKeptLines at once, so that the list is trimmed once per ten lines
// rather than on every line. The lines held for a switch that is off (and
// those that come while paused) are bounded the same way, per switch.
inline constexpr std::size_t kMonitorMostLines = 110;
inline constexpr std::size_t kMonitorKeptLines = 100;

// What "add to filter" opens: the URL filter editor of this user, with the
// URL filled in.
struct FilterRequest {
  std::uint32_t userId = 0;
  std::string url;
};

// What a change did to the shown list: nothing, one line added at its end
// (after the oldest were cut, when there were too many), or the whole list
// made anew (a resume, a switch turned on or off).
enum class MonitorChange { kNone, kAdded, kRebuilt };

class MonitorLines {
 public:
  // A line from the engine; an empty one is dropped. It is shown at once
  // unless paused or its switch is off; then it is kept, and shown when the
  // pause ends or the switch is turned on (if still among the latest). The
  // new line is selected when the list was empty or its last line was
  // selected.
  MonitorChange Add(MonitorEntry entry);
  // A line of no service (shown whatever the switches say).
  MonitorChange Add(const std::string& line) { return Add(MonitorEntry{line, kMonitorAlways, 0, {}}); }
  void Clear();

  bool Paused() const { return paused_; }
  MonitorChange SetPaused(bool paused);
  // All on at start; a switch of no service (kMonitorAlways) is always on.
  bool Shows(int monitorSwitch) const;
  MonitorChange SetShows(int monitorSwitch, bool shows);

  // The shown lines, as the gateway wrote them, and as they are shown.
  const std::deque<std::string>& Lines() const { return lines_; }
  const std::deque<std::string>& Texts() const { return texts_; }
  std::optional<std::size_t> Selected() const { return selected_; }
  void Select(std::size_t line);

  // The selected line's URL (field 10 of a connection line, to its end);
  // "add to filter" is offered only when it is not empty.
  std::string SelectedUrl() const;
  bool CanAddToFilter() const { return !SelectedUrl().empty(); }
  // The user not marked deleted whose login (any case) is field 2 of the
  // selected line; nothing without one.
  std::optional<FilterRequest> AddToFilter(const UsersSnapshot& users) const;

 private:
  bool Visible(const MonitorEntry& entry) const { return Shows(entry.monitorSwitch); }
  void Keep(MonitorEntry entry);
  MonitorChange Rebuild();
  void AppendShown(const MonitorEntry& entry);

  // Every line held, in the order they came; each switch's (and the lines
  // of no service) bounded on its own.
  std::deque<MonitorEntry> held_;
  std::array<std::size_t, kMonitorSwitches + 1> heldCounts_{};
  std::deque<std::string> lines_;
  std::deque<std::string> texts_;
  std::optional<std::size_t> selected_;
  std::array<bool, kMonitorSwitches> shows_{true, true, true, true, true, true, true};
  bool paused_ = false;
};

// The text a line is shown with: the time it came ("14:03:05"), then the
// line, its dates day first with the whole year ("08.12.2026, 14:03:05"
// where the log has "12.08.26, 14:03:05", and the subscription events'
// "08/12/26" alike), and on a refusal the message text beside its number.
std::string MonitorText(const MonitorEntry& entry);

// The entry of a line the gateway shows at its local time `now`; a refusal
// gets the text of its message from the installation's message file (none
// when the file or the number is missing). Gateway side.
MonitorEntry GatewayMonitorEntry(const std::string& line, int monitorSwitch, std::int64_t now);

// The payload of a monitor push: a zero byte, then the switch, the time,
// the message text and the line in the channel's byte form. A payload that
// does not begin with a zero byte is a line of no service (what the channel
// itself says, the lines a console missed); one that does not read is
// nothing (an empty line, which the monitor drops).
std::string MonitorPushPayload(const MonitorEntry& entry);
MonitorEntry MonitorEntryOfPush(std::string_view payload);

}  // namespace brindlex
