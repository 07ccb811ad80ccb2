// A session log and a connection log of any content through the statistics
// at every level, and the rows through the window's texts and sorting.
// Input: one byte choosing the query, then the session log, a NUL byte and
// the connection log.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/date_time.h"
#include "core/strings.h"
#include "stats/statistics.h"
#include "stats/statistics_view.h"

using namespace brindlex;

namespace {

StatisticsQuery QueryFor(std::uint8_t choice) {
  const double day = LocalSecondsToDateTime(LocalSeconds(2026, 12, 5));
  StatisticsQuery query;
  query.subject = static_cast<StatisticsSubject>(1 + choice % 3);
  query.login = "bob";
  query.level = static_cast<StatisticsLevel>(choice / 3 % 3);
  const bool oneDay = choice & 0x20;
  query.start = oneDay ? day + (choice & 0x80 ? 0.5 : 0) : day - 2;
  query.end = day + 0.75;
  query.hourWindow = oneDay && query.level != StatisticsLevel::kDays && (choice & 0x40);
  query.host = "Example.LAN";
  return query;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const StatisticsQuery query = QueryFor(data[0]);
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t split = text.find('\0');
  std::string_view sessions = text.substr(0, split);
  std::string_view connections = split == std::string_view::npos ? std::string_view() : text.substr(split + 1);

  std::vector<StatisticsRow> rows =
      BuildStatisticsFrom(query, [&](const std::string& fileName, const LogLineHandler& onLine) {
        LogLineSplitter splitter(kStatisticsLogRules, onLine);
        splitter.Feed(fileName.ends_with(".lgs") ? sessions : connections);
        splitter.Finish();
      });
  if (rows.empty() || rows.back().label != Str(813) || rows.back().rating != 100) std::abort();
  const StatisticsRow& totals = rows.back();
  // Outside the hourly rows (which give the totals whole sessions) every
  // byte and millisecond of the totals is in exactly one row.
  const bool hourly = query.level == StatisticsLevel::kDays && (data[0] & 0x20);
  if (!hourly) {
    StatisticsRow sum;
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
      sum.received += rows[i].received;
      sum.sent += rows[i].sent;
      sum.timeMs += rows[i].timeMs;
    }
    if (sum.received != totals.received || sum.sent != totals.sent || sum.timeMs != totals.timeMs) std::abort();
  }

  for (const StatisticsRow& row : rows)
    for (int column = 0; column < kStatisticsColumns; ++column)
      StatisticsCell(row, query.level, column, {TrafficUnit::KbAndMb, data[0] % 50, 1048576});
  SortStatisticsRows(rows, query.level, data[0] % kStatisticsColumns);
  if (rows.back().label != Str(813)) std::abort();
  StatisticsCaption(DeeperStatisticsQuery(query, &rows.front()), StatisticsCaptionSubject{"Bob"});
  return 0;
}
