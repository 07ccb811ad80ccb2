#include "console/monitor_view.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "console/admin_wire.h"
#include "core/display_forms.h"
#include "core/log_files.h"
#include "core/message_file.h"
#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

// The fields of a connection line that the monitor's commands read.
constexpr int kLoginField = 2;
constexpr int kUrlField = 10;
// A refusal line: "REFUSED, address, login, message number, URL".
constexpr std::string_view kRefusedTag = "REFUSED";
constexpr int kRefusalMessageField = 3;
// Dates stand early in a line (field 4 of a connection or session line,
// field 2 of a subscription event); later fields are names and URLs, which
// are left as they are whatever they look like.
constexpr int kDateFieldsScanned = 6;
// What MessageText gives without a file, and without the number in it.
constexpr int kNoMessageFile = 784;
constexpr int kNoSuchMessage = 785;
// The lines of no service are held under the last count.
constexpr std::size_t kNoServiceGroup = kMonitorSwitches;

std::size_t GroupOf(int monitorSwitch) {
  return monitorSwitch >= 0 && monitorSwitch < kMonitorSwitches ? static_cast<std::size_t>(monitorSwitch)
                                                                : kNoServiceGroup;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "NN?NN?NN" with `separator` for "?".
bool IsShortTriple(std::string_view field, char separator) {
  if (field.size() != 8 || field[2] != separator || field[5] != separator) return false;
  for (std::size_t i : {0, 1, 3, 4, 6, 7})
    if (!IsDigit(field[i])) return false;
  return true;
}

struct Edit {
  std::size_t at = 0;
  std::size_t length = 0;
  std::string text;
};

// Where each field begins (after its comma and the blanks) and its length up
// to the next comma, for the first `most` fields.
std::vector<std::pair<std::size_t, std::size_t>> FieldSpans(std::string_view line, int most) {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  std::size_t pos = 0;
  for (int i = 0; i < most; ++i) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    std::size_t end = line.find(',', pos);
    if (end == std::string_view::npos) end = line.size();
    spans.emplace_back(pos, end - pos);
    if (end == line.size()) break;
    pos = end + 1;
  }
  return spans;
}

}  // namespace

MonitorChange MonitorLines::Add(MonitorEntry entry) {
  if (entry.line.empty()) return MonitorChange::kNone;
  const bool shown = !paused_ && Visible(entry);
  if (shown) AppendShown(entry);
  Keep(std::move(entry));
  return shown ? MonitorChange::kAdded : MonitorChange::kNone;
}

void MonitorLines::Keep(MonitorEntry entry) {
  const std::size_t group = GroupOf(entry.monitorSwitch);
  held_.push_back(std::move(entry));
  if (++heldCounts_[group] <= kMonitorMostLines) return;
  std::size_t drop = heldCounts_[group] - kMonitorKeptLines;
  heldCounts_[group] = kMonitorKeptLines;
  const auto gone = std::remove_if(held_.begin(), held_.end(), [&](const MonitorEntry& held) {
    if (drop == 0 || GroupOf(held.monitorSwitch) != group) return false;
    --drop;
    return true;
  });
  held_.erase(gone, held_.end());
}

void MonitorLines::AppendShown(const MonitorEntry& entry) {
  const bool follow = lines_.empty() || selected_ == lines_.size() - 1;
  lines_.push_back(entry.line);
  texts_.push_back(MonitorText(entry));
  if (lines_.size() > kMonitorMostLines) {
    const std::size_t dropped = lines_.size() - kMonitorKeptLines;
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(dropped));
    texts_.erase(texts_.begin(), texts_.begin() + static_cast<std::ptrdiff_t>(dropped));
    if (selected_ && *selected_ >= dropped)
      *selected_ -= dropped;
    else
      selected_.reset();
  }
  if (follow) selected_ = lines_.size() - 1;
}

MonitorChange MonitorLines::Rebuild() {
  lines_.clear();
  texts_.clear();
  selected_.reset();
  // The latest lines the switches let through, oldest first.
  std::vector<const MonitorEntry*> latest;
  for (auto it = held_.rbegin(); it != held_.rend() && latest.size() < kMonitorKeptLines; ++it)
    if (Visible(*it)) latest.push_back(&*it);
  for (auto it = latest.rbegin(); it != latest.rend(); ++it) AppendShown(**it);
  return MonitorChange::kRebuilt;
}

void MonitorLines::Clear() {
  held_.clear();
  heldCounts_ = {};
  lines_.clear();
  texts_.clear();
  selected_.reset();
}

MonitorChange MonitorLines::SetPaused(bool paused) {
  if (paused == paused_) return MonitorChange::kNone;
  paused_ = paused;
  return paused ? MonitorChange::kNone : Rebuild();
}

bool MonitorLines::Shows(int monitorSwitch) const {
  return monitorSwitch < 0 || monitorSwitch >= kMonitorSwitches || shows_[static_cast<std::size_t>(monitorSwitch)];
}

MonitorChange MonitorLines::SetShows(int monitorSwitch, bool shows) {
  if (monitorSwitch < 0 || monitorSwitch >= kMonitorSwitches || Shows(monitorSwitch) == shows)
    return MonitorChange::kNone;
  shows_[static_cast<std::size_t>(monitorSwitch)] = shows;
  // While paused the list stays as it is; the resume shows the switches' choice.
  return paused_ ? MonitorChange::kNone : Rebuild();
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

std::string MonitorText(const MonitorEntry& entry) {
  const std::string_view line = entry.line;
  std::vector<Edit> edits;
  const auto spans = FieldSpans(line, kDateFieldsScanned);
  for (std::size_t i = 0; i + 1 < spans.size(); ++i) {
    const std::string_view field = line.substr(spans[i].first, spans[i].second);
    const std::string_view next = line.substr(spans[i + 1].first, spans[i + 1].second);
    if (!IsShortTriple(next, ':')) continue;
    // The logs write the month first ("12.08.26"); the subscription events
    // the day first with slashes ("08/12/26").
    const bool monthFirst = IsShortTriple(field, '.');
    if (!monthFirst && !IsShortTriple(field, '/')) continue;
    const std::string_view day = monthFirst ? field.substr(3, 2) : field.substr(0, 2);
    const std::string_view month = monthFirst ? field.substr(0, 2) : field.substr(3, 2);
    edits.push_back({spans[i].first, field.size(),
                     std::string(day) + "." + std::string(month) + ".20" + std::string(field.substr(6, 2))});
  }
  if (!entry.message.empty() && spans.size() > kRefusalMessageField &&
      line.substr(spans[0].first, spans[0].second) == kRefusedTag) {
    const auto [at, length] = spans[kRefusalMessageField];
    const std::string_view number = line.substr(at, length);
    if (!number.empty() && std::all_of(number.begin(), number.end(), IsDigit))
      edits.push_back({at + length, 0, " (" + entry.message + ")"});
  }

  std::string text(line);
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at > b.at; });
  for (const Edit& edit : edits) text.replace(edit.at, edit.length, edit.text);
  return FormatTimeOfDay(entry.localTime) + "  " + text;
}

MonitorEntry GatewayMonitorEntry(const std::string& line, int monitorSwitch, std::int64_t now) {
  MonitorEntry entry{line, monitorSwitch, now, {}};
  const auto spans = FieldSpans(line, kRefusalMessageField + 1);
  if (spans.size() <= kRefusalMessageField || line.substr(spans[0].first, spans[0].second) != kRefusedTag) return entry;
  const auto [at, length] = spans[kRefusalMessageField];
  int number = 0;
  for (std::size_t i = at; i < at + length && number < 100000; ++i) {
    if (!IsDigit(line[i])) return entry;
    number = number * 10 + (line[i] - '0');
  }
  // A console turned away has no message.
  if (number <= 0) return entry;
  std::string text = MessageText(number);
  if (text != Str(kNoMessageFile) && text != Str(kNoSuchMessage)) entry.message = std::move(text);
  return entry;
}

std::string MonitorPushPayload(const MonitorEntry& entry) {
  WireWriter out;
  out.PutU8(0);
  out.PutI32(entry.monitorSwitch);
  out.PutI64(entry.localTime);
  out.PutString(entry.message);
  out.PutString(entry.line);
  return out.Take();
}

MonitorEntry MonitorEntryOfPush(std::string_view payload) {
  MonitorEntry entry;
  if (payload.empty() || payload[0] != '\0') {
    entry.line = std::string(payload);
    return entry;
  }
  WireReader in(payload.substr(1));
  std::int32_t monitorSwitch = kMonitorAlways;
  in.GetI32(monitorSwitch);
  in.GetI64(entry.localTime);
  in.GetString(entry.message);
  in.GetString(entry.line);
  if (!in.Done()) return MonitorEntry{};
  entry.monitorSwitch = monitorSwitch >= 0 && monitorSwitch < kMonitorSwitches ? monitorSwitch : kMonitorAlways;
  return entry;
}

}  // namespace brindlex
