#include "stats/statistics.h"

#include <algorithm>
#include <array>
#include <limits>
#include <mutex>
#include <set>
#include <string_view>
#include <unordered_map>

#include "core/chars.h"
#include "core/counter_rebuild.h"
#include "core/date_time.h"
#include "core/display_forms.h"
#include "core/log_files.h"
#include "core/process_state.h"
#include "core/strings.h"
#include "core/users.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

constexpr std::int64_t kHourMs = 3'600'000;
constexpr int kHoursPerDay = 24;

// value × part / whole in whole units, for 0 <= part <= whole; exact while the
// product fits, and never above `value` when it does not.
std::uint64_t Share(std::uint64_t value, std::uint64_t part, std::uint64_t whole) {
  if (part >= whole) return value;
  if (part == 0) return 0;
  if (value <= std::numeric_limits<std::uint64_t>::max() / part) return value * part / whole;
  long double share = static_cast<long double>(value) * part / whole;
  return share >= static_cast<long double>(value) ? value : static_cast<std::uint64_t>(share);
}

// Counts in the logs are never negative; a damaged line must not wrap them.
std::uint64_t Count(std::int64_t value) { return value > 0 ? static_cast<std::uint64_t>(value) : 0; }

void Add(StatisticsRow& row, std::uint64_t timeMs, std::uint64_t received, std::uint64_t sent) {
  row.timeMs += timeMs;
  row.received += received;
  row.sent += sent;
}

bool IsEmpty(const StatisticsRow& row) { return row.timeMs == 0 && row.received == 0 && row.sent == 0; }

// Seconds since midnight of a line's start; a time that does not parse counts
// from midnight.
std::int64_t StartOfLine(std::string_view line, int field) {
  return std::max<std::int64_t>(0, LogTimeOfDay(LogField(line, field)));
}

// Which lines count: everybody's, one user's (login in any case), or those
// of the users of one group as the user table has them when the build starts.
class SubjectFilter {
 public:
  explicit SubjectFilter(const StatisticsQuery& query) : subject_(query.subject), login_(query.login) {
    if (subject_ != StatisticsSubject::kGroup) return;
    std::lock_guard<std::mutex> lock(AccountsLock());
    for (const auto& user : Users())
      if (user->groupNumber == query.groupNumber) groupLogins_.insert(user->login);
  }
  bool Takes(std::string_view login) const {
    switch (subject_) {
      case StatisticsSubject::kUser:
        return EqualsNoCase(login, login_);
      case StatisticsSubject::kGroup:
        return groupLogins_.find(login) != groupLogins_.end();
      case StatisticsSubject::kAll:
        break;
    }
    return true;
  }

 private:
  StatisticsSubject subject_;
  std::string login_;
  std::set<std::string, std::less<>> groupLogins_;
};

// One session log line as the statistics take it.
struct SessionLine {
  std::int64_t startOfDay = 0;  // seconds since midnight
  std::uint64_t timeMs = 0;
  std::uint64_t received = 0;
  std::uint64_t sent = 0;
};

// Calls `take` for every line of the day's session log that passes the filter
// and starts no earlier than `notBefore` (local seconds).
template <typename Take>
void ForEachSession(const StatisticsLogSource& logs, std::int64_t day, const SubjectFilter& filter,
                    std::int64_t notBefore, Take take) {
  logs(SessionLogName(day), [&](std::string_view line) {
    SessionLogEntry entry;
    if (!ParseSessionLogLine(line, entry) || !filter.Takes(entry.login)) return;
    SessionLine session{StartOfLine(line, 4), Count(entry.values.timeMs), Count(entry.values.incoming),
                        Count(entry.values.outgoing)};
    if (day + session.startOfDay < notBefore) return;
    take(session);
  });
}

// Ratings of the rows against the totals, and the totals row last.
std::vector<StatisticsRow> Finish(std::vector<StatisticsRow> rows, StatisticsRow totals) {
  for (StatisticsRow& row : rows)
    row.rating = totals.received == 0 ? 0 : static_cast<double>(row.received) * 100 / totals.received;
  totals.label = Str(813);
  totals.rating = 100;
  rows.push_back(std::move(totals));
  return rows;
}

std::vector<StatisticsRow> DailyRows(const StatisticsLogSource& logs, const SubjectFilter& filter,
                                     const std::vector<std::int64_t>& days, std::int64_t windowStart) {
  std::vector<StatisticsRow> rows;
  StatisticsRow totals;
  for (std::int64_t day : days) {
    StatisticsRow row{FormatShortDate(day)};
    ForEachSession(logs, day, filter, windowStart, [&](const SessionLine& session) {
      Add(row, session.timeMs, session.received, session.sent);
      Add(totals, session.timeMs, session.received, session.sent);
    });
    if (!IsEmpty(row)) rows.push_back(std::move(row));
  }
  return Finish(std::move(rows), std::move(totals));
}

// A session spreads over the hours it overlaps, each taking its time there and
// that share of the traffic; the totals take the whole session.
std::vector<StatisticsRow> HourlyRows(const StatisticsLogSource& logs, const SubjectFilter& filter, std::int64_t day,
                                      std::int64_t windowStart) {
  std::array<StatisticsRow, kHoursPerDay> hours;
  for (int hour = 0; hour < kHoursPerDay; ++hour) hours[hour].label = FormatDateAndTime(day + hour * 3600);
  StatisticsRow totals;
  ForEachSession(logs, day, filter, windowStart, [&](const SessionLine& session) {
    Add(totals, session.timeMs, session.received, session.sent);
    const int first = static_cast<int>(session.startOfDay / 3600);
    if (session.timeMs == 0) {  // no time to share out: the traffic belongs to the hour it was counted in
      Add(hours[first], 0, session.received, session.sent);
      return;
    }
    const std::int64_t startMs = session.startOfDay * 1000;
    // Past the day's end nothing is shared out; capping keeps the sum in range.
    const std::int64_t endMs =
        startMs + static_cast<std::int64_t>(std::min<std::uint64_t>(session.timeMs, 24 * kHourMs));
    for (int hour = first; hour < kHoursPerDay; ++hour) {
      const std::int64_t hourStart = hour * kHourMs;
      const std::int64_t overlap = std::min(endMs, hourStart + kHourMs) - std::max(startMs, hourStart);
      if (overlap <= 0) break;
      const auto part = static_cast<std::uint64_t>(overlap);
      Add(hours[hour], part, Share(session.received, part, session.timeMs), Share(session.sent, part, session.timeMs));
    }
  });
  std::vector<StatisticsRow> rows;
  for (StatisticsRow& hour : hours)
    if (!IsEmpty(hour)) rows.push_back(std::move(hour));
  return Finish(std::move(rows), std::move(totals));
}

// Rows keyed by a text compared without regard to letter case, in the order
// of their first lines, each keeping the label of its first line.
class KeyedRows {
 public:
  StatisticsRow& Row(std::string_view key) {
    auto [it, added] = index_.try_emplace(LowerCase(key), rows_.size());
    if (added) rows_.push_back(StatisticsRow{std::string(key)});
    return rows_[it->second];
  }
  std::vector<StatisticsRow> Take() { return std::move(rows_); }

 private:
  std::unordered_map<std::string, size_t> index_;
  std::vector<StatisticsRow> rows_;
};

std::vector<StatisticsRow> HostOrUrlRows(const StatisticsQuery& query, const StatisticsLogSource& logs,
                                         const SubjectFilter& filter) {
  const std::int64_t from = DateTimeToLocalSeconds(query.start);
  const std::int64_t to = query.hourWindow ? from : DateTimeToLocalSeconds(query.end);
  const std::int64_t hourEndMs = from * 1000 + kHourMs;
  const bool urls = query.level == StatisticsLevel::kUrls;
  KeyedRows rows;
  StatisticsRow totals;
  for (std::int64_t day : DaysBetween(from, to)) {
    logs(ConnectionLogName(day), [&](std::string_view line) {
      std::string loginText, hostText, urlText;
      if (!filter.Takes(UnescapeField(LogField(line, 2), loginText))) return;
      const std::int64_t start = day + StartOfLine(line, 5);
      if (start < from) return;
      std::string_view host = UnescapeField(LogField(line, 6), hostText);
      if (urls && !EqualsNoCase(host, query.host)) return;
      std::uint64_t timeMs = Count(ParseIntPrefix(LogField(line, 7)));
      std::uint64_t received = Count(ParseIntPrefix(LogField(line, 8)));
      std::uint64_t sent = Count(ParseIntPrefix(LogField(line, 9)));
      if (query.hourWindow) {
        // Only the part of the connection inside the hour counts.
        const std::int64_t startMs = start * 1000;
        const std::int64_t overlap = std::min<std::int64_t>(
            hourEndMs - startMs, static_cast<std::int64_t>(std::min<std::uint64_t>(timeMs, kHourMs)));
        if (timeMs == 0 || overlap <= 0) return;
        const auto part = static_cast<std::uint64_t>(overlap);
        received = Share(received, part, timeMs);
        sent = Share(sent, part, timeMs);
        timeMs = part;
      }
      Add(rows.Row(urls ? UnescapeField(LogFieldToEnd(line, 10), urlText) : host), timeMs, received, sent);
      Add(totals, timeMs, received, sent);
    });
  }
  return Finish(rows.Take(), std::move(totals));
}

}  // namespace

std::vector<StatisticsRow> BuildStatisticsFrom(const StatisticsQuery& query, const StatisticsLogSource& logs) {
  const SubjectFilter filter(query);
  if (query.level != StatisticsLevel::kDays) return HostOrUrlRows(query, logs, filter);
  const std::int64_t windowStart = DateTimeToLocalSeconds(query.start);
  std::vector<std::int64_t> days = DaysBetween(windowStart, DateTimeToLocalSeconds(query.end));
  if (days.size() == 1 && !query.byDays) return HourlyRows(logs, filter, days.front(), windowStart);
  return DailyRows(logs, filter, days, windowStart);
}

std::vector<StatisticsRow> BuildStatistics(const StatisticsQuery& query, const std::string& loggingFolder) {
  return BuildStatisticsFrom(query, [&](const std::string& fileName, const LogLineHandler& onLine) {
    ReadLogLines(loggingFolder + "/" + fileName, kStatisticsLogRules, onLine);
  });
}

}  // namespace brindlex
