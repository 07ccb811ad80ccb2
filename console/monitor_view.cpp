#include "console/monitor_view.h"

#include "core/log_files.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

// The fields of a connection line that the monitor's commands read.
constexpr int kLoginField = 2;
constexpr int kUrlField = 10;

}  // namespace

void MonitorLines::Add(const std::string& line) {
  if (paused_ || line.empty()) return;
  const bool follow = lines_.empty() || selected_ == lines_.size() - 1;
  lines_.push_back(line);
  if (lines_.size() > kMonitorMostLines) {
    const std::size_t dropped = lines_.size() - kMonitorKeptLines;
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(dropped));
    if (selected_ && *selected_ >= dropped)
      *selected_ -= dropped;
    else
      selected_.reset();
  }
  if (follow) selected_ = lines_.size() - 1;
}

void MonitorLines::Clear() {
  lines_.clear();
  selected_.reset();
}

void MonitorLines::Select(std::size_t line) {
  if (line < lines_.size()) selected_ = line;
}

std::string MonitorLines::SelectedUrl() const {
  if (!selected_) return {};
  std::string text;
  return std::string(UnescapeField(LogFieldToEnd(lines_[*selected_], kUrlField), text));
}

std::optional<FilterRequest> MonitorLines::AddToFilter(const UsersSnapshot& users) const {
  const std::string url = SelectedUrl();
  if (url.empty()) return std::nullopt;
  std::string text;
  const std::string_view login = UnescapeField(LogField(lines_[*selected_], kLoginField), text);
  if (login.empty()) return std::nullopt;
  for (const ConsoleUser& user : users.users)
    if (!user.deleted && EqualsNoCase(user.login, login)) return FilterRequest{user.id, url};
  return std::nullopt;
}

}  // namespace brindlex
