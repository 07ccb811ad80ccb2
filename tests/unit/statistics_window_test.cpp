#include "console/statistics_window.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/date_time.h"
#include "core/strings.h"
#include "tests/unit/console_fake_engine.h"

namespace brindlex {
namespace {

double At(int day, int hour = 0, int minute = 0) {
  return LocalSecondsToDateTime(LocalSeconds(2026, 12, day, hour, minute));
}

StatisticsRow Row(std::string label, std::uint64_t received = 0) {
  StatisticsRow row;
  row.label = std::move(label);
  row.received = received;
  return row;
}

// Answers by level, as the builder would: the rows, then the totals.
std::vector<StatisticsRow> RowsOfLevel(const StatisticsQuery& query) {
  switch (query.level) {
    case StatisticsLevel::kDays:
      return {Row("05.12.2026", 300), Row("06.12.2026", 100), Row("07.12.2026", 200), Row(Str(813), 600)};
    case StatisticsLevel::kHosts:
      return {Row("Alpha.lan"), Row("beta.lan"), Row(Str(813))};
    case StatisticsLevel::kUrls:
      break;
  }
  return {Row("http://beta.lan/a"), Row(Str(813))};
}

// Only the statistics are asked for; they ask `abort` once, as the engine
// does between two reads, and answer whatever the load had read by then.
class FakeEngine final : public testing::FakeConsoleEngine {
 public:
  std::vector<StatisticsRow> Statistics(const StatisticsQuery& query, const std::function<bool()>& abort) override {
    queries.push_back(query);
    if (abort) abort();
    return answer(query);
  }

  std::vector<StatisticsQuery> queries;
  std::function<std::vector<StatisticsRow>(const StatisticsQuery&)> answer = RowsOfLevel;
};

StatisticsWindowSubject Ivanov() {
  ConsoleUser user;
  user.id = 4;
  user.login = "ivanov";
  user.name = "Иванов";
  return StatisticsSubjectOfUser(user);
}

TEST(StatisticsWindow, OpensOnThePageDatesWithTheRowsAndTheTotalsApart) {
  FakeEngine engine;
  StatisticsWindow window(engine, Ivanov(), At(1), At(9));
  ASSERT_EQ(window.Open(), StatisticsStep::kShown);
  ASSERT_EQ(engine.queries.size(), 1u);
  const StatisticsQuery& asked = engine.queries[0];
  EXPECT_EQ(asked.subject, StatisticsSubject::kUser);
  EXPECT_EQ(asked.login, "ivanov");
  EXPECT_EQ(asked.level, StatisticsLevel::kDays);
  EXPECT_EQ(asked.start, At(1));
  EXPECT_EQ(asked.end, At(9));

  ASSERT_EQ(window.Rows().size(), 3u);
  EXPECT_EQ(window.Rows()[2].label, "07.12.2026");
  EXPECT_EQ(window.Totals().label, "Всего");
  EXPECT_EQ(window.Totals().received, 600u);
  EXPECT_EQ(window.Selected(), 0);
  EXPECT_EQ(window.StartText(), "01.12.2026");
  EXPECT_EQ(window.EndText(), "09.12.2026");
  EXPECT_TRUE(window.DatesEditable());
  EXPECT_EQ(window.Caption(), "Статистика пользователя \"Иванов\" с 01.12.2026 по 09.12.2026");
}

TEST(StatisticsWindow, AGroupOrEverybodyIsAskedForAndKeyedApart) {
  FakeEngine engine;
  StatisticsWindow group(engine, StatisticsSubjectOfGroup({7, "Бухгалтерия"}), At(1), At(1));
  group.Open();
  EXPECT_EQ(engine.queries.back().subject, StatisticsSubject::kGroup);
  EXPECT_EQ(engine.queries.back().groupNumber, 7u);
  EXPECT_EQ(group.Caption(), "Статистика группы \"Бухгалтерия\" за 01.12.2026");

  StatisticsWindowSubject all;
  all.id = 7;  // ignored for the whole program
  StatisticsWindow program(engine, all, At(1), At(2));
  program.Open();
  EXPECT_EQ(engine.queries.back().subject, StatisticsSubject::kAll);

  StatisticsWindowSubject userSeven = Ivanov();
  userSeven.id = 7;
  EXPECT_NE(KeyOf(userSeven), KeyOf(group.Subject()));
  EXPECT_EQ(KeyOf(all), (StatisticsWindowKey{StatisticsSubject::kAll, 0}));
  EXPECT_EQ(KeyOf(Ivanov()), (StatisticsWindowKey{StatisticsSubject::kUser, 4}));
}

TEST(StatisticsWindow, ForwardGoesDeeperForTheSelectedRowAndBackReadsTheUpperLevelAgain) {
  FakeEngine engine;
  StatisticsWindow window(engine, Ivanov(), At(1), At(9));
  window.Open();
  EXPECT_FALSE(window.CanGoBack());
  EXPECT_EQ(window.Back(), StatisticsStep::kNothing);

  window.Select(1);
  ASSERT_EQ(window.Forward(), StatisticsStep::kShown);
  ASSERT_EQ(engine.queries.size(), 2u);
  EXPECT_EQ(engine.queries[1].level, StatisticsLevel::kHosts);
  EXPECT_EQ(engine.queries[1].start, At(6));
  EXPECT_EQ(engine.queries[1].end, At(6));
  EXPECT_EQ(window.Level(), StatisticsLevel::kHosts);
  EXPECT_EQ(window.Rows()[0].label, "Alpha.lan");
  EXPECT_EQ(window.Selected(), 0) << "a new level selects its first row";
  EXPECT_EQ(window.StartText(), "06.12.2026") << "the edits show the level's own dates";

  window.Select(1);
  ASSERT_EQ(window.Forward(), StatisticsStep::kShown);
  EXPECT_EQ(engine.queries[2].level, StatisticsLevel::kUrls);
  EXPECT_EQ(engine.queries[2].host, "beta.lan");
  EXPECT_FALSE(window.CanGoForward());
  EXPECT_EQ(window.Forward(), StatisticsStep::kNothing);
  EXPECT_EQ(engine.queries.size(), 3u) << "nothing below the URLs";

  ASSERT_EQ(window.Back(), StatisticsStep::kShown);
  ASSERT_EQ(engine.queries.size(), 4u) << "going back reads the logs again";
  EXPECT_EQ(engine.queries[3].level, StatisticsLevel::kHosts);
  EXPECT_EQ(window.Level(), StatisticsLevel::kHosts);
  EXPECT_EQ(window.Query().start, At(6));
  EXPECT_EQ(window.Selected(), 1);
  EXPECT_EQ(window.Rows()[1].label, "beta.lan");

  ASSERT_EQ(window.Back(), StatisticsStep::kShown);
  EXPECT_EQ(window.Level(), StatisticsLevel::kDays);
  EXPECT_EQ(window.Query().start, At(1));
  EXPECT_EQ(window.Query().end, At(9));
  EXPECT_EQ(window.Rows().size(), 3u);
  EXPECT_EQ(window.Selected(), 1);
  EXPECT_EQ(window.Back(), StatisticsStep::kNothing);

  window.Select(-1);
  ASSERT_EQ(window.Forward(), StatisticsStep::kShown);
  EXPECT_EQ(engine.queries.back().start, At(1)) << "no row: the window's whole range";
  EXPECT_EQ(engine.queries.back().end, At(9));
}

TEST(StatisticsWindow, TicketModeRunsFromTheTicketsOpeningToNowAndKeepsTheDatesShut) {
  ManualClock clock;
  clock.local = LocalSeconds(2026, 12, 9, 15, 30);
  SetProgramClock(&clock);
  ConsoleUser user;
  user.id = 4;
  user.login = "ivanov";
  user.name = "Иванов";
  user.hasTicket = true;
  user.ticketNumber = 42;
  user.ticketOpenedAt = At(3, 10, 15);
  FakeEngine engine;
  StatisticsWindow window(engine, user);
  window.Open();
  EXPECT_TRUE(window.TicketMode());
  EXPECT_FALSE(window.DatesEditable());
  EXPECT_EQ(engine.queries[0].start, At(3, 10, 15));
  EXPECT_EQ(engine.queries[0].end, At(9, 15, 30));
  EXPECT_EQ(window.StartText(), "03.12.2026 10:15:00");
  EXPECT_EQ(window.Caption(), "Статистика пользователя \"Иванов\" по абонементу №42 с 03.12.2026 по 09.12.2026");

  clock.local = LocalSeconds(2026, 12, 10, 8);
  const RefreshOutcome refreshed = window.Refresh("not a date", "nor this");
  EXPECT_EQ(refreshed.step, StatisticsStep::kShown);
  EXPECT_FALSE(refreshed.warning);
  EXPECT_EQ(engine.queries[1].start, At(3, 10, 15));
  EXPECT_EQ(engine.queries[1].end, At(10, 8)) << "the end moves on to now";
  SetProgramClock(nullptr);
}

TEST(StatisticsWindow, ABadDateWarnsAndKeepsTheOldDates) {
  FakeEngine engine;
  StatisticsWindow window(engine, Ivanov(), At(1), At(9));
  window.Open();
  window.MarkDatesEdited();
  for (const auto& [start, end] : std::vector<std::pair<std::string, std::string>>{
           {"31.02.2026", "10.12.2026"}, {"02.12.2026", "10.13.2026"}, {"", "10.12.2026"}}) {
    const RefreshOutcome outcome = window.Refresh(start, end);
    EXPECT_EQ(outcome.step, StatisticsStep::kNothing) << start << " " << end;
    ASSERT_TRUE(outcome.warning) << start << " " << end;
    EXPECT_EQ(outcome.warning->caption, "Ошибка преобразования");
    EXPECT_EQ(outcome.warning->text, "некоректная дата");
  }
  EXPECT_EQ(engine.queries.size(), 1u) << "nothing loaded";
  EXPECT_EQ(window.StartText(), "01.12.2026");
  EXPECT_EQ(window.EndText(), "09.12.2026");
  EXPECT_TRUE(window.DatesEdited());

  const RefreshOutcome outcome = window.Refresh(" 02.12.2026 ", "10.12.2026 12:00:00");
  EXPECT_EQ(outcome.step, StatisticsStep::kShown);
  EXPECT_FALSE(outcome.warning);
  ASSERT_EQ(engine.queries.size(), 2u);
  EXPECT_EQ(engine.queries[1].start, At(2));
  EXPECT_EQ(engine.queries[1].end, At(10, 12));
  EXPECT_FALSE(window.DatesEdited());
}

TEST(StatisticsWindow, AnHourChosenAtTheDaysStaysAnHourOnlyWhileItsDatesStay) {
  FakeEngine engine;
  engine.answer = [](const StatisticsQuery& query) {
    if (query.level == StatisticsLevel::kDays)
      return std::vector<StatisticsRow>{Row("05.12.2026 13:00:00"), Row(Str(813))};
    return RowsOfLevel(query);
  };
  StatisticsWindow window(engine, Ivanov(), At(5), At(5));
  window.Open();
  window.Forward();
  EXPECT_TRUE(engine.queries[1].hourWindow);
  EXPECT_EQ(window.StartText(), "05.12.2026 13:00:00");

  window.Refresh(window.StartText(), window.EndText());
  EXPECT_TRUE(engine.queries[2].hourWindow);
  EXPECT_EQ(engine.queries[2].level, StatisticsLevel::kHosts);

  window.Refresh("05.12.2026", "06.12.2026");
  EXPECT_FALSE(engine.queries[3].hourWindow);
  EXPECT_EQ(engine.queries[3].start, At(5));
  EXPECT_EQ(engine.queries[3].end, At(6));
  EXPECT_EQ(engine.queries[3].level, StatisticsLevel::kHosts);
}

TEST(StatisticsWindow, ClosingDuringALoadIsRefusedStopsTheLoadAndThenClosesTheWindow) {
  FakeEngine engine;
  StatisticsWindow* open = nullptr;
  std::vector<bool> closeAnswers;
  std::vector<StatisticsStep> forwardAnswers;
  bool closeNow = false;
  StatisticsWindow window(engine, Ivanov(), At(1), At(9), [&] {
    EXPECT_TRUE(open->Loading());
    forwardAnswers.push_back(open->Forward());
    if (closeNow) closeAnswers.push_back(open->RequestClose());
  });
  open = &window;

  ASSERT_EQ(window.Open(), StatisticsStep::kShown) << "nobody closed it";
  EXPECT_FALSE(window.Loading());
  EXPECT_TRUE(closeAnswers.empty());

  closeNow = true;
  window.Select(0);
  EXPECT_EQ(window.Forward(), StatisticsStep::kClose);
  EXPECT_EQ(closeAnswers, std::vector<bool>{false}) << "refused while loading";
  EXPECT_EQ(forwardAnswers, std::vector<StatisticsStep>(2, StatisticsStep::kNothing)) << "no second load inside one";
  EXPECT_EQ(engine.queries.size(), 2u);
  EXPECT_FALSE(window.Loading());
  EXPECT_TRUE(window.Rows().empty()) << "what an aborted load read is dropped";
  EXPECT_EQ(window.Totals().label, "Всего");
  EXPECT_FALSE(window.CanGoBack());
  EXPECT_TRUE(window.RequestClose());
}

TEST(StatisticsWindow, AddToFilterOnlyForASelectedHostOrUrl) {
  FakeEngine engine;
  StatisticsWindow window(engine, Ivanov(), At(1), At(9));
  window.Open();
  EXPECT_EQ(window.Selected(), 0);
  EXPECT_EQ(window.SelectedLabel(), "");
  EXPECT_FALSE(window.AddToFilterEnabled()) << "not at the days";
  EXPECT_FALSE(window.AddToFilter());

  window.Forward();
  EXPECT_EQ(window.SelectedLabel(), "Alpha.lan");
  EXPECT_TRUE(window.AddToFilterEnabled());
  ASSERT_TRUE(window.AddToFilter());
  EXPECT_EQ(window.AddToFilter()->text, "Alpha.lan");
  EXPECT_TRUE(window.AddToFilter()->isHost);
  window.Select(-1);
  EXPECT_FALSE(window.AddToFilterEnabled());
  window.Select(2);  // the totals row is not in the grid
  EXPECT_EQ(window.Selected(), -1);
  EXPECT_FALSE(window.AddToFilterEnabled());

  window.Select(1);
  window.Forward();
  ASSERT_TRUE(window.AddToFilter());
  EXPECT_EQ(window.AddToFilter()->text, "http://beta.lan/a");
  EXPECT_FALSE(window.AddToFilter()->isHost);

  engine.answer = [](const StatisticsQuery&) { return std::vector<StatisticsRow>{Row(Str(813))}; };
  window.Back();
  window.Back();
  window.Forward();
  EXPECT_EQ(window.Level(), StatisticsLevel::kHosts);
  EXPECT_EQ(window.Selected(), -1) << "no rows, nothing selected";
  EXPECT_FALSE(window.AddToFilterEnabled());
}

TEST(StatisticsWindow, TheRefreshButtonBlinksWhileTheDatesAreEdited) {
  FakeEngine engine;
  StatisticsWindow window(engine, Ivanov(), At(1), At(9));
  window.Open();
  EXPECT_FALSE(window.BlinkTick());
  EXPECT_FALSE(window.BlinkTick());
  window.MarkDatesEdited();
  EXPECT_TRUE(window.BlinkTick());
  EXPECT_FALSE(window.BlinkTick());
  EXPECT_TRUE(window.BlinkTick());
  window.Refresh("01.12.2026", "09.12.2026");
  EXPECT_FALSE(window.DatesEdited());
  EXPECT_FALSE(window.BlinkTick());
  EXPECT_FALSE(window.BlinkTick());
}

TEST(StatisticsWindow, SortingKeepsTheSelectionOnItsRowAndTheTotalsApart) {
  FakeEngine engine;
  StatisticsWindow window(engine, Ivanov(), At(1), At(9));
  window.Open();
  window.Select(2);  // 07.12.2026, 200 bytes
  window.SortBy(3);
  ASSERT_EQ(window.Rows().size(), 3u);
  EXPECT_EQ(window.Rows()[0].label, "06.12.2026");
  EXPECT_EQ(window.Rows()[1].label, "07.12.2026");
  EXPECT_EQ(window.Rows()[2].label, "05.12.2026");
  EXPECT_EQ(window.Selected(), 1);
  EXPECT_EQ(window.Totals().received, 600u);
}

}  // namespace
}  // namespace brindlex
