#include "stats/statistics.h"

#include <fstream>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <vector>

#include "core/date_time.h"
#include "core/log_files.h"
#include "core/log_lines.h"
#include "core/program_folder.h"
#include "core/strings.h"
#include "tests/unit/account_world.h"

namespace brindlex {
namespace {

std::string SessionLine(const std::string& login, const std::string& time, std::uint64_t timeMs, std::uint64_t received,
                        std::uint64_t sent) {
  return "Name, " + login + ", 10.0.0.5, 12.05.26, " + time + ", " + std::to_string(timeMs) + ", " +
         std::to_string(received) + ", " + std::to_string(sent) + ", 0, 0";
}

std::string ConnectionLine(const std::string& login, const std::string& time, const std::string& host,
                           std::uint64_t timeMs, std::uint64_t received, std::uint64_t sent, const std::string& url) {
  return "HTTP, Name, " + login + ", 10.0.0.5, 12.05.26, " + time + ", " + host + ", " + std::to_string(timeMs) + ", " +
         std::to_string(received) + ", " + std::to_string(sent) + ", " + url;
}

struct Figures {
  std::string label;
  std::uint64_t received, sent, timeMs;
  bool operator==(const Figures&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Figures& f) {
  return out << "{" << f.label << ", in " << f.received << ", out " << f.sent << ", " << f.timeMs << " ms}";
}

std::vector<Figures> FiguresOf(const std::vector<StatisticsRow>& rows) {
  std::vector<Figures> figures;
  for (const StatisticsRow& row : rows) figures.push_back({row.label, row.received, row.sent, row.timeMs});
  return figures;
}

class Statistics : public testing::AccountWorld {
 protected:
  static std::int64_t Day(int day) { return LocalSeconds(2026, 12, day); }
  static double At(int day, int hour = 0, int minute = 0) {
    return LocalSecondsToDateTime(LocalSeconds(2026, 12, day, hour, minute));
  }

  void Write(const std::string& fileName, const std::vector<std::string>& lines) {
    std::ofstream file(LoggingFolder() + "/" + fileName, std::ios::app | std::ios::binary);
    for (const std::string& line : lines) file << line << "\r\n";
  }
  void WriteSessions(int day, const std::vector<std::string>& lines) { Write(SessionLogName(Day(day)), lines); }
  void WriteConnections(int day, const std::vector<std::string>& lines) { Write(ConnectionLogName(Day(day)), lines); }

  std::vector<StatisticsRow> Build(StatisticsQuery query) { return BuildStatistics(query, LoggingFolder()); }
  std::vector<StatisticsRow> Build(double start, double end, StatisticsLevel level = StatisticsLevel::kDays,
                                   bool hourWindow = false) {
    StatisticsQuery query;
    query.start = start;
    query.end = end;
    query.level = level;
    query.hourWindow = hourWindow;
    return Build(query);
  }
};

TEST_F(Statistics, OneDayGivesARowForEveryHourWithTrafficOrTime) {
  WriteSessions(5, {SessionLine("bob", "09:10:00", 60000, 100, 10), SessionLine("bob", "15:20:00", 0, 0, 5),
                    SessionLine("ann", "20:00:00", 1000, 0, 0), SessionLine("ann", "22:00:00", 0, 0, 0)});
  EXPECT_EQ(FiguresOf(Build(At(5), At(5, 23, 59))), (std::vector<Figures>{{"05.12.2026 09:00:00", 100, 10, 60000},
                                                                          {"05.12.2026 15:00:00", 0, 5, 0},
                                                                          {"05.12.2026 20:00:00", 0, 0, 1000},
                                                                          {Str(813), 100, 15, 61000}}));
}

TEST_F(Statistics, ByDaysOneDayIsOneRowNotHours) {
  WriteSessions(5, {SessionLine("bob", "09:10:00", 60000, 100, 10), SessionLine("bob", "15:20:00", 0, 0, 5)});
  StatisticsQuery query;
  query.start = At(5);
  query.end = At(5);
  query.byDays = true;
  EXPECT_EQ(FiguresOf(Build(query)),
            (std::vector<Figures>{{"05.12.2026", 100, 15, 60000}, {Str(813), 100, 15, 60000}}));
}

TEST_F(Statistics, SeveralDaysGiveOneRowPerDayWithTrafficOrTime) {
  WriteSessions(4, {SessionLine("bob", "10:00:00", 1000, 300, 30), SessionLine("ann", "23:00:00", 500, 0, 0)});
  // No file for the 5th; the 6th has only empty lines.
  WriteSessions(6, {SessionLine("bob", "10:00:00", 0, 0, 0)});
  WriteSessions(7, {SessionLine("bob", "01:00:00", 0, 0, 7)});
  WriteSessions(8, {SessionLine("bob", "01:00:00", 9, 9, 9)});  // after the range
  std::vector<StatisticsRow> rows = Build(At(4), At(7));
  EXPECT_EQ(FiguresOf(rows),
            (std::vector<Figures>{{"04.12.2026", 300, 30, 1500}, {"07.12.2026", 0, 7, 0}, {Str(813), 300, 37, 1500}}));
  EXPECT_DOUBLE_EQ(rows[0].rating, 100);
  EXPECT_DOUBLE_EQ(rows[1].rating, 0);
  EXPECT_DOUBLE_EQ(rows[2].rating, 100);
}

TEST_F(Statistics, ASessionSharesItsTimeAndTrafficAmongTheHoursItCovers) {
  WriteSessions(5, {SessionLine("bob", "13:30:00", 3600000, 1000, 201)});
  EXPECT_EQ(FiguresOf(Build(At(5), At(5))), (std::vector<Figures>{{"05.12.2026 13:00:00", 500, 100, 1800000},
                                                                  {"05.12.2026 14:00:00", 500, 100, 1800000},
                                                                  {Str(813), 1000, 201, 3600000}}));
  WriteSessions(5, {SessionLine("bob", "22:45:00", 2 * 3600000, 800, 0)});  // runs past midnight
  std::vector<StatisticsRow> rows = Build(At(5, 22), At(5, 22));
  EXPECT_EQ(FiguresOf(rows), (std::vector<Figures>{{"05.12.2026 22:00:00", 100, 0, 900000},
                                                   {"05.12.2026 23:00:00", 400, 0, 3600000},
                                                   {Str(813), 800, 0, 7200000}}))
      << "the session from 13:30 starts before the window; the part after midnight is in no hour";
}

TEST_F(Statistics, AnHourWindowClipsEveryConnectionToTheHour) {
  WriteConnections(5, {ConnectionLine("bob", "13:50:00", "a.lan", 1200000, 300, 30, "http://a.lan/1"),
                       ConnectionLine("bob", "13:10:00", "B.lan", 60000, 40, 4, "http://b.lan/"),
                       ConnectionLine("bob", "13:20:00", "b.LAN", 0, 99, 9, "http://b.lan/"),
                       ConnectionLine("bob", "14:10:00", "c.lan", 1000, 50, 5, "http://c.lan/"),
                       ConnectionLine("bob", "12:50:00", "a.lan", 1200000, 70, 7, "http://a.lan/0")});
  EXPECT_EQ(FiguresOf(Build(At(5, 13), At(5, 13), StatisticsLevel::kHosts, true)),
            (std::vector<Figures>{{"a.lan", 150, 15, 600000}, {"B.lan", 40, 4, 60000}, {Str(813), 190, 19, 660000}}))
      << "half of the 13:50 connection; nothing of the one without duration, of the next hour or of the earlier one";
  EXPECT_EQ(FiguresOf(Build(At(5, 13), At(5, 13), StatisticsLevel::kHosts, false)),
            (std::vector<Figures>{{"a.lan", 300, 30, 1200000},
                                  {"B.lan", 139, 13, 60000},
                                  {"c.lan", 50, 5, 1000},
                                  {Str(813), 489, 48, 1261000}}))
      << "without an hour window every connection from the start on counts whole, one without duration too";
}

TEST_F(Statistics, UrlsOfOneHostAreGroupedWithoutRegardToCase) {
  WriteConnections(5, {ConnectionLine("bob", "10:00:00", "Example.lan", 10, 1, 0, "http://example.lan/a,b"),
                       ConnectionLine("bob", "10:00:01", "example.LAN", 10, 2, 0, "HTTP://EXAMPLE.LAN/A,B"),
                       ConnectionLine("bob", "10:00:02", "example.lan", 10, 4, 0, "http://example.lan/c"),
                       ConnectionLine("bob", "10:00:03", "other.lan", 10, 8, 0, "http://example.lan/c")});
  StatisticsQuery query;
  query.level = StatisticsLevel::kUrls;
  query.start = query.end = At(5);
  query.host = "EXAMPLE.lan";
  EXPECT_EQ(FiguresOf(Build(query)),
            (std::vector<Figures>{
                {"http://example.lan/a,b", 3, 0, 20}, {"http://example.lan/c", 4, 0, 10}, {Str(813), 7, 0, 30}}));
}

TEST_F(Statistics, RatingsAddUpToAHundredOrAreAllZero) {
  WriteConnections(5, {ConnectionLine("bob", "10:00:00", "a.lan", 10, 1, 0, "u"),
                       ConnectionLine("bob", "10:00:00", "b.lan", 10, 1, 0, "u"),
                       ConnectionLine("bob", "10:00:00", "c.lan", 10, 1, 0, "u")});
  std::vector<StatisticsRow> rows = Build(At(5), At(5), StatisticsLevel::kHosts);
  ASSERT_EQ(rows.size(), 4u);
  double sum = 0;
  for (size_t i = 0; i + 1 < rows.size(); ++i) sum += rows[i].rating;
  EXPECT_NEAR(rows[0].rating, 100.0 / 3, 1e-9);
  EXPECT_NEAR(sum, 100, 0.005);
  EXPECT_EQ(rows.back().rating, 100);

  WriteConnections(6, {ConnectionLine("bob", "10:00:00", "a.lan", 10, 0, 5, "u")});
  rows = Build(At(6), At(6), StatisticsLevel::kHosts);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].rating, 0) << "nothing received: no share of it";
  EXPECT_EQ(rows[1].rating, 100);
}

TEST_F(Statistics, TheSubjectChoosesTheLines) {
  UserRecord* bob = AddUser("bob");
  UserRecord* ann = AddUser("ann");
  bob->groupNumber = 7;
  ann->groupNumber = 0;
  WriteSessions(5, {SessionLine("Bob", "10:00:00", 0, 1, 0), SessionLine("bob", "10:00:00", 0, 2, 0),
                    SessionLine("ann", "10:00:00", 0, 4, 0), SessionLine("carl", "10:00:00", 0, 8, 0)});
  auto received = [&](StatisticsSubject subject, const std::string& login, std::uint32_t group) {
    StatisticsQuery query;
    query.subject = subject;
    query.login = login;
    query.groupNumber = group;
    query.start = query.end = At(5);
    return Build(query).back().received;
  };
  EXPECT_EQ(received(StatisticsSubject::kUser, "BOB", 0), 3u) << "a user's login in any case";
  EXPECT_EQ(received(StatisticsSubject::kUser, "ann", 0), 4u);
  EXPECT_EQ(received(StatisticsSubject::kGroup, "", 7), 2u) << "the table's login, as it stands";
  EXPECT_EQ(received(StatisticsSubject::kGroup, "", 0), 4u) << "a login not in the table is in no group";
  EXPECT_EQ(received(StatisticsSubject::kAll, "bob", 7), 15u);
}

TEST_F(Statistics, ATimeThatDoesNotParseCountsFromMidnight) {
  WriteSessions(5, {SessionLine("bob", "7:5:1", 1000, 10, 1), SessionLine("bob", "25:00:00", 1000, 20, 2)});
  EXPECT_EQ(FiguresOf(Build(At(5), At(5))),
            (std::vector<Figures>{{"05.12.2026 00:00:00", 30, 3, 2000}, {Str(813), 30, 3, 2000}}));
  EXPECT_EQ(FiguresOf(Build(At(5, 0, 1), At(5))), (std::vector<Figures>{{Str(813), 0, 0, 0}}))
      << "midnight is before a window that starts later";
}

TEST_F(Statistics, LinesBeforeTheWindowsStartAreSkipped) {
  WriteSessions(5, {SessionLine("bob", "09:59:59", 0, 1, 0), SessionLine("bob", "10:00:00", 0, 2, 0)});
  WriteSessions(6, {SessionLine("bob", "01:00:00", 0, 4, 0)});
  EXPECT_EQ(FiguresOf(Build(At(5, 10), At(6))),
            (std::vector<Figures>{{"05.12.2026", 2, 0, 0}, {"06.12.2026", 4, 0, 0}, {Str(813), 6, 0, 0}}));
  WriteConnections(5, {ConnectionLine("bob", "09:59:59", "a.lan", 0, 1, 0, "u"),
                       ConnectionLine("bob", "10:00:00", "a.lan", 0, 2, 0, "u")});
  EXPECT_EQ(Build(At(5, 10), At(5), StatisticsLevel::kHosts).back().received, 2u);
}

TEST_F(Statistics, AnOverlongLineIsSkippedAndAHalfWrittenOneCounts) {
  std::ofstream(LoggingFolder() + "/" + SessionLogName(Day(5)), std::ios::binary)
      << SessionLine("bob", "10:00:00", 0, 1, 0) << "\r\n"
      << std::string(kLogLineBuffer * 2, 'x') << "\r\n"
      << SessionLine("bob", "11:00:00", 0, 2, 0) << "\r\n"
      << "Name, bob, 10.0.0.5, 12.05.26, 12:00:00, 0, 4";
  EXPECT_EQ(Build(At(5), At(5)).back().received, 7u);
}

}  // namespace
}  // namespace brindlex
