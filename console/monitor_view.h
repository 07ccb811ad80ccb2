// The monitor page without its list widget: the lines it holds, the pause,
// the selection that follows new lines, and what "add to filter" takes from
// the selected line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "console/console_engine.h"

namespace brindlex {

// A line that makes more than kMonitorMostLines cuts the list back to
// kMonitorKeptLines at once, so that the list is trimmed once per ten lines
// rather than on every line.
inline constexpr std::size_t kMonitorMostLines = 110;
inline constexpr std::size_t kMonitorKeptLines = 100;

// What "add to filter" opens: the URL filter editor of this user, with the
// URL filled in.
struct FilterRequest {
  std::uint32_t userId = 0;
  std::string url;
};

class MonitorLines {
 public:
  // A line from the engine; dropped while paused or when empty. The new line
  // is selected when the list was empty or its last line was selected.
  void Add(const std::string& line);
  void Clear();

  bool Paused() const { return paused_; }
  void SetPaused(bool paused) { paused_ = paused; }

  const std::deque<std::string>& Lines() const { return lines_; }
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
  std::deque<std::string> lines_;
  std::optional<std::size_t> selected_;
  bool paused_ = false;
};

}  // namespace brindlex
