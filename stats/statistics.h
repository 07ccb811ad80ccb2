// The statistics over the daily logs: traffic and time by day or hour (from
// the session logs), by host and by URL (from the connection logs), for one
// user, one group or everybody. Shared by the console's window, the users'
// web pages and the export; this is only the arithmetic, no display.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/log_lines.h"

namespace brindlex {

enum class StatisticsSubject : std::uint8_t { kUser = 1, kGroup = 2, kAll = 3 };
enum class StatisticsLevel : std::uint8_t { kDays = 0, kHosts = 1, kUrls = 2 };

struct StatisticsQuery {
  StatisticsSubject subject = StatisticsSubject::kAll;
  std::string login;              // kUser: compared without regard to case
  std::uint32_t groupNumber = 0;  // kGroup: a line counts when its login's user is in this group
  StatisticsLevel level = StatisticsLevel::kDays;
  double start = 0;         // date-time reals (days since 30 Dec 1899, fraction = time of day)
  double end = 0;           // level 0: the window's dates; levels 1-2: the level's own range
  bool hourWindow = false;  // levels 1-2: the range is one hour chosen from an hourly row
  std::string host;         // level 2: the host whose URLs are listed
  // Level 0: daily rows even for a range of one day (a month's table on its
  // first day is still a table of days).
  bool byDays = false;
};

struct StatisticsRow {
  std::string label;
  std::uint64_t received = 0;
  std::uint64_t sent = 0;
  std::uint64_t timeMs = 0;
  double rating = 0;  // percent of the total received
};

// The rows of the level, the totals row (label Str(813), sums, rating 100) last. Level 0 gives
// hourly rows when start and end fall on one calendar day (unless byDays), else daily rows. Reads the logs in
// `loggingFolder`; a missing file is an empty day.
std::vector<StatisticsRow> BuildStatistics(const StatisticsQuery& query, const std::string& loggingFolder);

// How the statistics read a log: a log may be read while it is being written,
// so a half-written last line counts as far as it goes, and a line too long
// for the buffer is one bad line, not the end of the day.
inline constexpr LogLineRules kStatisticsLogRules{OverlongLine::kSkipped, UnfinishedLine::kRead};

// Where the builder gets the lines of a daily log by its file name
// ("dd-mm-yy-Brindlex.lgs"); a log that does not exist gives none.
using StatisticsLogSource = std::function<void(const std::string& fileName, const LogLineHandler& onLine)>;
// The same as BuildStatistics over any source of logs (files, or texts in memory).
std::vector<StatisticsRow> BuildStatisticsFrom(const StatisticsQuery& query, const StatisticsLogSource& logs);

}  // namespace brindlex
