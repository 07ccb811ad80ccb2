#include "stats/statistics_view.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>

#include "core/accounting.h"
#include "core/chars.h"
#include "core/clock.h"
#include "core/date_time.h"
#include "core/strings.h"

namespace brindlex {

namespace {

// The display forms take signed counts; a count beyond them shows as the largest.
std::int64_t Signed(std::uint64_t value) {
  return static_cast<std::int64_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::int64_t>::max()));
}

std::string HoursAndMinutes(std::int64_t localSeconds) {
  std::tm tm = LocalTm(localSeconds);
  char text[16];
  std::snprintf(text, sizeof(text), "%02d:%02d", tm.tm_hour, tm.tm_min);
  return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Subject(const StatisticsQuery& query, const StatisticsCaptionSubject& subject) {
  if (query.subject == StatisticsSubject::kAll) return " " + Str(834) + " ";
  std::string text =
      " " + Str(query.subject == StatisticsSubject::kUser ? 831 : 833) + " " + Quoted(subject.name) + " ";
  if (subject.ticketMode) text += Str(832) + std::to_string(subject.ticketNumber) + " ";
  return text;
}

std::string Period(std::int64_t start, std::int64_t end) {
  std::string first = FormatShortDate(start);
  std::string last = FormatShortDate(end);
  if (first == last) return Str(819) + first;
  return Str(820) + first + Str(821) + last;
}

// The label's place in time at level 0; a label that does not parse sorts as 0.
std::int64_t LabelTime(const std::string& label) {
  std::int64_t seconds = 0;
  bool hasTime = false;
  return ParseDateAndTime(label, seconds, hasTime) ? seconds : 0;
}

// -1, 0 or 1 as the labels compare.
int CompareLabels(const std::string& a, const std::string& b, StatisticsLevel level) {
  if (level == StatisticsLevel::kDays) {
    std::int64_t first = LabelTime(a), second = LabelTime(b);
    return first < second ? -1 : first > second;
  }
  int byLetters = LowerCase(a).compare(LowerCase(b));
  if (byLetters != 0) return byLetters < 0 ? -1 : 1;
  int exact = a.compare(b);
  return exact < 0 ? -1 : exact > 0;
}

template <typename T>
int Compare(T a, T b) {
  return a < b ? -1 : a > b;
}

int CompareColumn(const StatisticsRow& a, const StatisticsRow& b, int column) {
  switch (column) {
    case 1:
      return Compare(a.timeMs, b.timeMs);
    case 2:
      return Compare(a.sent, b.sent);
    case 3:
      return Compare(a.received, b.received);
    case 4:
      return Compare(a.rating, b.rating);
    default:
      return 0;
  }
}

}  // namespace

StatisticsQuery DeeperStatisticsQuery(const StatisticsQuery& query, const StatisticsRow* selected) {
  StatisticsQuery deeper = query;
  switch (query.level) {
    case StatisticsLevel::kDays:
      deeper.level = StatisticsLevel::kHosts;
      deeper.hourWindow = false;
      if (selected) {
        std::int64_t seconds = 0;
        bool hasTime = false;
        bool parsed = ParseDateAndTime(selected->label, seconds, hasTime);
        deeper.start = deeper.end = parsed ? LocalSecondsToDateTime(seconds) : 0;
        deeper.hourWindow = parsed && hasTime;
      }
      break;
    case StatisticsLevel::kHosts:
      deeper.level = StatisticsLevel::kUrls;
      deeper.host = selected ? selected->label : std::string();
      break;
    case StatisticsLevel::kUrls:
      break;
  }
  return deeper;
}

std::string StatisticsCaption(const StatisticsQuery& query, const StatisticsCaptionSubject& subject) {
  const std::int64_t start = DateTimeToLocalSeconds(query.start);
  std::string caption = Str(822) + Subject(query, subject) + Period(start, DateTimeToLocalSeconds(query.end));
  if (query.level == StatisticsLevel::kDays) return caption;
  if (query.hourWindow) caption += Str(809) + "- " + HoursAndMinutes(start) + "-" + HoursAndMinutes(start + 3600) + ".";
  if (query.level == StatisticsLevel::kUrls) caption += Str(830) + "- " + Quoted(query.host) + ".";
  return caption;
}

std::vector<std::string> StatisticsColumnCaptions(StatisticsLevel level) {
  switch (level) {
    case StatisticsLevel::kDays:
      return {Str(815), Str(816), Str(810), Str(811), Str(812)};
    case StatisticsLevel::kHosts:
      return {Str(817), Str(818), Str(810), Str(811), Str(812)};
    case StatisticsLevel::kUrls:
      break;
  }
  return {Str(825), Str(818), Str(810), Str(811), Str(812)};
}

std::string StatisticsCell(const StatisticsRow& row, StatisticsLevel level, int column,
                           const StatisticsTrafficForm& form) {
  auto traffic = [&](std::uint64_t bytes) {
    return FormatTrafficIn(CorrectedTraffic(Signed(bytes), form.overheadPercent), form.unit, form.bytesPerMb);
  };
  char text[64];
  switch (column) {
    case 0:
      return row.label;
    case 1:
      if (level == StatisticsLevel::kDays) return FormatMilliseconds(Signed(row.timeMs));
      if (row.timeMs == 0) return "-";
      // Kb per second: received / 1024 over time / 1000.
      std::snprintf(text, sizeof(text), "%.2f", static_cast<double>(row.received) * 0.9765625 / row.timeMs);
      return text;
    case 2:
      return traffic(row.sent);
    case 3:
      return traffic(row.received);
    case 4:
      std::snprintf(text, sizeof(text), "%.2f%%", row.rating);
      return text;
    default:
      return "";
  }
}

void SortStatisticsRows(std::vector<StatisticsRow>& rows, StatisticsLevel level, int column) {
  if (rows.size() < 2) return;
  std::stable_sort(rows.begin(), rows.end() - 1, [&](const StatisticsRow& a, const StatisticsRow& b) {
    int order = CompareColumn(a, b, column);
    if (order == 0) order = CompareLabels(a.label, b.label, level);
    return order < 0;
  });
}

}  // namespace brindlex
