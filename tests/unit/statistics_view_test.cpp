#include "stats/statistics_view.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/date_time.h"
#include "core/settings.h"
#include "core/strings.h"

namespace brindlex {
namespace {

double At(int day, int hour = 0) { return LocalSecondsToDateTime(LocalSeconds(2026, 12, day, hour)); }

StatisticsQuery Window(double start, double end) {
  StatisticsQuery query;
  query.start = start;
  query.end = end;
  return query;
}

TEST(StatisticsView, GoingDeeperFromAnHourADayOrNoRow) {
  const StatisticsQuery window = Window(At(1), At(9));
  StatisticsRow hour{"05.12.2026 13:00:00"};
  StatisticsQuery hosts = DeeperStatisticsQuery(window, &hour);
  EXPECT_EQ(hosts.level, StatisticsLevel::kHosts);
  EXPECT_EQ(hosts.start, At(5, 13));
  EXPECT_EQ(hosts.end, At(5, 13));
  EXPECT_TRUE(hosts.hourWindow);

  StatisticsRow day{"05.12.2026"};
  hosts = DeeperStatisticsQuery(window, &day);
  EXPECT_EQ(hosts.start, At(5));
  EXPECT_EQ(hosts.end, At(5));
  EXPECT_FALSE(hosts.hourWindow);

  StatisticsRow totals{Str(813)};
  hosts = DeeperStatisticsQuery(window, &totals);
  EXPECT_EQ(hosts.start, 0);
  EXPECT_EQ(hosts.end, 0);
  EXPECT_FALSE(hosts.hourWindow);

  hosts = DeeperStatisticsQuery(window, nullptr);
  EXPECT_EQ(hosts.start, window.start);
  EXPECT_EQ(hosts.end, window.end);

  StatisticsRow host{"Example.lan"};
  StatisticsQuery urls = DeeperStatisticsQuery(DeeperStatisticsQuery(window, &hour), &host);
  EXPECT_EQ(urls.level, StatisticsLevel::kUrls);
  EXPECT_EQ(urls.host, "Example.lan");
  EXPECT_TRUE(urls.hourWindow) << "the hour stays";
  EXPECT_EQ(DeeperStatisticsQuery(urls, nullptr).host, "Example.lan") << "nothing below the URLs";
  EXPECT_EQ(DeeperStatisticsQuery(hosts, nullptr).host, "");
}

TEST(StatisticsView, CaptionsNameTheSubjectThePeriodTheHourAndTheHost) {
  StatisticsQuery query = Window(At(1), At(9));
  query.subject = StatisticsSubject::kUser;
  EXPECT_EQ(StatisticsCaption(query, {"Bob Smith"}),
            "Статистика пользователя \"Bob Smith\" с 01.12.2026 по 09.12.2026");
  EXPECT_EQ(StatisticsCaption(query, {"Bob Smith", true, 17}),
            "Статистика пользователя \"Bob Smith\" по абонементу №17 с 01.12.2026 по 09.12.2026");
  query.subject = StatisticsSubject::kGroup;
  query.start = At(5, 8);
  query.end = At(5, 20);
  EXPECT_EQ(StatisticsCaption(query, {"Office"}), "Статистика группы \"Office\" за 05.12.2026");
  query.subject = StatisticsSubject::kAll;
  query.level = StatisticsLevel::kHosts;
  query.hourWindow = true;
  query.start = query.end = At(5, 13);
  EXPECT_EQ(StatisticsCaption(query, {}), "Статистика итоговая за 05.12.2026Время- 13:00-14:00.");
  query.level = StatisticsLevel::kUrls;
  query.host = "a.lan";
  EXPECT_EQ(StatisticsCaption(query, {}), "Статистика итоговая за 05.12.2026Время- 13:00-14:00.Хост- \"a.lan\".");
  query.hourWindow = false;
  EXPECT_EQ(StatisticsCaption(query, {}), "Статистика итоговая за 05.12.2026Хост- \"a.lan\".");

  EXPECT_EQ(StatisticsColumnCaptions(StatisticsLevel::kDays),
            (std::vector<std::string>{"День", "Время", "Отправлено", "Получено", "Рейтинг"}));
  EXPECT_EQ(StatisticsColumnCaptions(StatisticsLevel::kHosts),
            (std::vector<std::string>{"Имя хоста", "Скорость", "Отправлено", "Получено", "Рейтинг"}));
  EXPECT_EQ(StatisticsColumnCaptions(StatisticsLevel::kUrls)[0], "URL");
}

TEST(StatisticsView, CellsShowTimeOrSpeedTrafficAndRating) {
  PublishSettings(SystemSettings{});
  StatisticsRow row{"a.lan", 3 * 1024 * 1024 / 2, 2048, 3723999, 12.345};
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 0, {TrafficUnit::Kb}), "a.lan");
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 1, {TrafficUnit::Kb}), "1:02:03");
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kHosts, 1, {TrafficUnit::Kb}), "0.41") << "1536 Kb in 3724 s";
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kUrls, 2, {TrafficUnit::Kb}), "2");
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kUrls, 3, {TrafficUnit::KbAndMb}), "1536 (1.5)");
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kUrls, 4, {TrafficUnit::Kb}), "12.35%");
  row.timeMs = 0;
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kHosts, 1, {TrafficUnit::Kb}), "-");
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 1, {TrafficUnit::Kb}), "0:00:00");
  row.received = 2048;
  row.timeMs = 500;
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kHosts, 1, {TrafficUnit::Kb}), "4.00");
}

// Sent and received carry the settings' overhead, as the users grid shows
// them; the speed and the rating are of the logged bytes.
TEST(StatisticsView, TrafficCellsAddTheOverheadInTheGatewaysMegabyte) {
  PublishSettings(SystemSettings{});
  StatisticsRow row{"10.12.2026", 3'579'000, 1'000'000, 4000, 50};
  const StatisticsTrafficForm tenPercent{TrafficUnit::Bytes, 10, 1048576};
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 2, tenPercent), "1100000");
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 3, tenPercent), "3936900");
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 3, {TrafficUnit::Kb, 10, 1048576}), "3844")
      << "3 936 900 bytes, whole kilobytes";
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 3, {TrafficUnit::KbAndMb, 0, 1048576}), "3495 (3.41)");
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 2, {TrafficUnit::Mb, 10, 1000 * 1024}), "1.07")
      << "1 100 000 bytes in megabytes of 1000 Kb";
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 2, {TrafficUnit::Bytes, 7, 1048576}), "1070000");
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kHosts, 1, tenPercent), "873.78") << "speed of the bytes logged";
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 4, tenPercent), "50.00%");
  row.sent = 999;
  EXPECT_EQ(StatisticsCell(row, StatisticsLevel::kDays, 2, tenPercent), "1098") << "999 + 99, truncating";
}

std::vector<std::string> Labels(const std::vector<StatisticsRow>& rows) {
  std::vector<std::string> labels;
  for (const StatisticsRow& row : rows) labels.push_back(row.label);
  return labels;
}

TEST(StatisticsView, SortingByAColumnFallsBackToTheLabelAndKeepsTheTotalsLast) {
  std::vector<StatisticsRow> days{{"10.12.2026", 5, 1, 9, 50},
                                  {"09.12.2026", 5, 2, 8, 50},
                                  {"01.12.2026 13:00:00", 0, 3, 7, 0},
                                  {Str(813), 10, 6, 24, 100}};
  SortStatisticsRows(days, StatisticsLevel::kDays, 3);
  EXPECT_EQ(Labels(days), (std::vector<std::string>{"01.12.2026 13:00:00", "09.12.2026", "10.12.2026", Str(813)}))
      << "equal received bytes go by date, not by text";
  SortStatisticsRows(days, StatisticsLevel::kDays, 1);
  EXPECT_EQ(Labels(days), (std::vector<std::string>{"01.12.2026 13:00:00", "09.12.2026", "10.12.2026", Str(813)}));
  SortStatisticsRows(days, StatisticsLevel::kDays, 2);
  EXPECT_EQ(Labels(days), (std::vector<std::string>{"10.12.2026", "09.12.2026", "01.12.2026 13:00:00", Str(813)}));

  std::vector<StatisticsRow> hosts{
      {"b.lan", 1, 0, 0, 25}, {"B.lan", 1, 0, 0, 25}, {"a.LAN", 2, 0, 0, 50}, {Str(813), 4, 0, 0, 100}};
  SortStatisticsRows(hosts, StatisticsLevel::kHosts, 4);
  EXPECT_EQ(Labels(hosts), (std::vector<std::string>{"B.lan", "b.lan", "a.LAN", Str(813)}));
  SortStatisticsRows(hosts, StatisticsLevel::kHosts, 0);
  EXPECT_EQ(Labels(hosts), (std::vector<std::string>{"a.LAN", "B.lan", "b.lan", Str(813)}))
      << "letters first without regard to case, then capitals first";
}

}  // namespace
}  // namespace brindlex
