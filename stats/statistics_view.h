// What the statistics window shows of the rows, without the window: going one
// level deeper from a selected row, the caption, the column captions, the cell
// texts and the sorting by a column. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/display_forms.h"
#include "stats/statistics.h"

namespace brindlex {

inline constexpr int kStatisticsColumns = 5;  // label, time or speed, sent, received, rating

// The query one level deeper. From level 0 the selected row's label, read as
// a date or a date and hour, is the level's start and end (an hour window
// when it has a time; 0 when it does not parse); with no row the level takes
// the window's whole range. From level 1 the label becomes the host (empty
// with no row). Level 2 has nothing deeper: the query is returned unchanged.
StatisticsQuery DeeperStatisticsQuery(const StatisticsQuery& query, const StatisticsRow* selected);

// Whose statistics the caption names: the user's full name or the group's
// name (unused for kAll), and the user's subscription in ticket mode.
struct StatisticsCaptionSubject {
  std::string name;
  bool ticketMode = false;
  std::int32_t ticketNumber = 0;
};
std::string StatisticsCaption(const StatisticsQuery& query, const StatisticsCaptionSubject& subject);

std::vector<std::string> StatisticsColumnCaptions(StatisticsLevel level);

// How traffic is shown: the overhead percentage the settings add to counted
// traffic (the users grid adds it too, so both show the same figure) and
// the megabyte of the settings.
struct StatisticsTrafficForm {
  TrafficUnit unit = TrafficUnit::KbAndMb;
  int overheadPercent = 0;
  std::int64_t bytesPerMb = 1048576;
};

// Column 0 the label; 1 the time (level 0) or the speed in Kb per second
// (of the bytes as logged); 2 sent and 3 received in the form's unit with its
// overhead added; 4 the rating in percent.
std::string StatisticsCell(const StatisticsRow& row, StatisticsLevel level, int column,
                           const StatisticsTrafficForm& form);

// Sorts the rows but the last (the totals row stays last) by the column,
// smallest first; equal values, and column 0, go by the label: as a date and
// time at level 0, as text at levels 1-2 (first without, then with regard to
// letter case).
void SortStatisticsRows(std::vector<StatisticsRow>& rows, StatisticsLevel level, int column);

}  // namespace brindlex
