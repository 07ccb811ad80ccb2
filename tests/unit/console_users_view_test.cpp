#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "console/users_panel.h"
#include "console/users_view.h"
#include "console_fake_engine.h"
#include "core/clock.h"

namespace brindlex {
namespace {

using testing::FakeConsoleEngine;

// One conventional unit of money with a megabyte of 1048576 bytes.
constexpr std::int64_t kUnit = 1048576LL * 1000;

ConsoleUser User(std::uint32_t id, std::uint32_t group, const std::string& name, CounterBlock month) {
  ConsoleUser user;
  user.id = id;
  user.groupNumber = group;
  user.name = name;
  user.login = "login" + std::to_string(id);
  user.month = month;
  return user;
}

// Office (1): Bob, alice, the deleted Dan; lab (2): Carol and Tom, who works
// against a subscription; Ghost's group 7 does not exist; Eric is deleted
// without figures.
UsersSnapshot Prepared() {
  UsersSnapshot snapshot;
  snapshot.groups = {{1, "Office"}, {2, "lab"}};
  ConsoleUser bob = User(0, 1, "Bob", {3723000, 2048, 1048576, 5 * kUnit / 2, 25 * kUnit});
  bob.day = {60000, 1024, 0, 0, 0};
  bob.activeAddresses = {0x0A000005, 0x0A000006};
  bob.hasEmail = true;
  ConsoleUser alice = User(1, 1, "alice", {1000, 0, 2097152, 5 * kUnit / 2, 30 * kUnit});
  alice.disabled = true;
  ConsoleUser ghost = User(2, 7, "Ghost", {999000, 999, 999, 99 * kUnit, 99 * kUnit});
  ConsoleUser carol = User(3, 2, "Carol", {0, 4096, 0, 5 * kUnit, 50 * kUnit});
  ConsoleUser eric = User(4, 2, "Eric", {});
  eric.deleted = true;
  ConsoleUser dan = User(5, 1, "Dan", {5000, 0, 0, 0, 0});
  dan.deleted = true;
  ConsoleUser tom = User(6, 2, "Tom", {0, 0, 1024, kUnit, 10 * kUnit});
  tom.hasTicket = tom.ticketOpen = tom.ticketActive = true;
  tom.ticketUsed = {120000, 1048576, 2097152, 3 * kUnit, 30 * kUnit};
  tom.ticketRemaining = {kNoValue, kNoValue, 512000, 7 * kUnit, 70 * kUnit};
  snapshot.users = {bob, alice, ghost, carol, eric, dan, tom};
  return snapshot;
}

UsersGrid Built(const UsersSnapshot& snapshot, UsersGridOptions options = {}) {
  UsersGrid grid;
  grid.Rebuild(snapshot, options);
  return grid;
}

std::vector<std::string> Column(const UsersGrid& grid, int column) {
  std::vector<std::string> texts;
  for (std::size_t row = 0; row < grid.Rows().size(); ++row) texts.push_back(grid.Cell(row, column));
  return texts;
}

std::size_t RowOf(const UsersGrid& grid, UsersRowKind kind, std::uint32_t id) {
  for (std::size_t row = 0; row < grid.Rows().size(); ++row) {
    const UsersRow& r = grid.Rows()[row];
    if (r.kind == kind && (kind == UsersRowKind::kUser ? r.userId : r.groupNumber) == id) return row;
  }
  ADD_FAILURE() << "no such row";
  return 0;
}

TEST(ConsoleUsersView, MonthViewListsGroupsUsersAndTotalsByName) {
  const UsersGrid grid = Built(Prepared());
  EXPECT_EQ(Column(grid, kUsersName), (std::vector<std::string>{"lab", "Carol", "Tom", "Итого:", "Office", "alice",
                                                                "Bob", "Dan", "Итого:", "Итого:"}));
  const std::vector<UsersRowKind> kinds = {
      UsersRowKind::kGroupHeader, UsersRowKind::kUser,      UsersRowKind::kUser, UsersRowKind::kGroupTotal,
      UsersRowKind::kGroupHeader, UsersRowKind::kUser,      UsersRowKind::kUser, UsersRowKind::kUser,
      UsersRowKind::kGroupTotal,  UsersRowKind::kGrandTotal};
  ASSERT_EQ(grid.Rows().size(), kinds.size());
  for (std::size_t row = 0; row < kinds.size(); ++row) EXPECT_EQ(grid.Rows()[row].kind, kinds[row]) << row;

  // Ghost's group is not in the table: neither he nor his figures appear.
  for (const UsersRow& row : grid.Rows()) EXPECT_NE(row.userId, 2u);
  EXPECT_EQ(grid.GrandTotal().timeMs, 3723000 + 1000 + 5000);
  EXPECT_EQ(grid.GrandTotal().money, 11 * kUnit);
  ASSERT_EQ(grid.Entries().size(), 2u);
  EXPECT_EQ(grid.Entries()[1].totals.incoming, 1048576 + 2097152);

  const std::size_t bob = RowOf(grid, UsersRowKind::kUser, 0);
  EXPECT_EQ(grid.Cell(bob, kUsersAddresses), "10.0.0.5; 10.0.0.6; ");
  EXPECT_EQ(grid.Cell(bob, kUsersTime), "1:02:03");
  EXPECT_EQ(grid.Cell(bob, kUsersOutgoing), "2 (0)");
  EXPECT_EQ(grid.Cell(bob, kUsersIncoming), "1024 (1)");
  EXPECT_EQ(grid.Cell(bob, kUsersMoney), "25 (2.5у.е.)");
  EXPECT_EQ(grid.Cell(bob, kUsersRating), "22.73");
  EXPECT_EQ(grid.Cell(grid.Rows().size() - 1, kUsersRating), "100");
  EXPECT_EQ(grid.Cell(grid.Rows().size() - 1, kUsersMoney), "115 (11у.е.)");
  const std::size_t office = RowOf(grid, UsersRowKind::kGroupTotal, 1);
  EXPECT_EQ(grid.Cell(office, kUsersTime), "1:02:09");
  EXPECT_EQ(grid.Cell(office, kUsersIncoming), "3072 (3)");
  EXPECT_EQ(grid.Cell(office, kUsersRating), "45.45");
  EXPECT_EQ(grid.Cell(RowOf(grid, UsersRowKind::kGroupHeader, 1), kUsersTime), "");
}

TEST(ConsoleUsersView, UnitsAndTheTrafficOverhead) {
  UsersSnapshot snapshot = Prepared();
  snapshot.trafficOverheadPercent = 10;
  UsersGridOptions options;
  std::vector<std::pair<TrafficUnit, std::string>> expected = {{TrafficUnit::KbAndMb, "1126 (1.1)"},
                                                               {TrafficUnit::Bytes, "1153433"},
                                                               {TrafficUnit::Kb, "1126"},
                                                               {TrafficUnit::Mb, "1.1"}};
  for (const auto& [unit, text] : expected) {
    options.unit = unit;
    const UsersGrid grid = Built(snapshot, options);
    // Bob's 1048576 incoming bytes and 10 percent.
    EXPECT_EQ(grid.Cell(RowOf(grid, UsersRowKind::kUser, 0), kUsersIncoming), text);
  }
  // A larger megabyte changes the megabyte figures and the money.
  snapshot.trafficOverheadPercent = 0;
  snapshot.bytesPerMb = 2097152;
  options.unit = TrafficUnit::Mb;
  const UsersGrid grid = Built(snapshot, options);
  const std::size_t bob = RowOf(grid, UsersRowKind::kUser, 0);
  EXPECT_EQ(grid.Cell(bob, kUsersIncoming), "0.5");
  EXPECT_EQ(grid.Cell(bob, kUsersMoney), "12.5 (1.25у.е.)");
}

TEST(ConsoleUsersView, DayViewLeavesOutTheDeletedWithoutFiguresAndOmitsTicketUsersOnRequest) {
  UsersGridOptions options;
  options.view = UsersView::kDay;
  options.showTicketUsers = false;
  const UsersGrid grid = Built(Prepared(), options);
  EXPECT_EQ(Column(grid, kUsersName),
            (std::vector<std::string>{"lab", "Carol", "Итого:", "Office", "alice", "Bob", "Итого:", "Итого:"}));
  EXPECT_EQ(grid.Cell(RowOf(grid, UsersRowKind::kUser, 0), kUsersTime), "0:01:00");
  // Nobody has money today: the rating stays empty.
  for (const std::string& text : Column(grid, kUsersRating)) EXPECT_EQ(text, "");
}

TEST(ConsoleUsersView, EveryUserIsListedIdleOrNotUnlessTheIdleAreHidden) {
  UsersSnapshot snapshot = Prepared();
  snapshot.users.push_back(User(7, 1, "Newcomer", {}));  // added a minute ago
  UsersGridOptions options;
  EXPECT_EQ(Column(Built(snapshot, options), kUsersName),
            (std::vector<std::string>{"lab", "Carol", "Tom", "Итого:", "Office", "alice", "Bob", "Dan", "Newcomer",
                                      "Итого:", "Итого:"}));
  options.hideIdle = true;
  EXPECT_EQ(
      Column(Built(snapshot, options), kUsersName),
      (std::vector<std::string>{"lab", "Carol", "Tom", "Итого:", "Office", "alice", "Bob", "Dan", "Итого:", "Итого:"}));

  // Today only Bob has figures: the lab, idle as a whole, goes with its users.
  options.view = UsersView::kDay;
  EXPECT_EQ(Column(Built(snapshot, options), kUsersName),
            (std::vector<std::string>{"Office", "Bob", "Итого:", "Итого:"}));
  options.hideIdle = false;
  EXPECT_EQ(Built(snapshot, options).Rows().size(), 10u) << "the idle of today are back, the deleted Dan is not";

  // The subscription views judge by what was used, not by what remains.
  snapshot.users[6].ticketUsed = {};
  options.view = UsersView::kTicketRemaining;
  EXPECT_EQ(Column(Built(snapshot, options), kUsersName), (std::vector<std::string>{"lab", "Tom"}));
  options.hideIdle = true;
  EXPECT_TRUE(Built(snapshot, options).Rows().empty());
}

TEST(ConsoleUsersView, HiddenGroupsMakeOneEntryWithoutGroupRows) {
  UsersGridOptions options;
  options.showGroups = false;
  const UsersGrid grid = Built(Prepared(), options);
  EXPECT_EQ(Column(grid, kUsersName), (std::vector<std::string>{"alice", "Bob", "Carol", "Dan", "Tom", "Итого:"}));
  ASSERT_EQ(grid.Entries().size(), 1u);
  EXPECT_EQ(grid.Entries()[0].group.name, "Office") << "the group of the first user taken";
  EXPECT_EQ(grid.Rows().back().kind, UsersRowKind::kGrandTotal);
  EXPECT_EQ(grid.GrandTotal().money, 11 * kUnit);
  EXPECT_EQ(grid.Look(0, kUsersName).indent, 0);

  options.view = UsersView::kInterval;
  EXPECT_EQ(Built(Prepared(), options).Rows().back().kind, UsersRowKind::kGrandTotal);
  options.view = UsersView::kTicketUsed;
  const UsersGrid tickets = Built(Prepared(), options);
  ASSERT_EQ(tickets.Rows().size(), 1u);
  EXPECT_EQ(tickets.Rows()[0].kind, UsersRowKind::kUser);
}

TEST(ConsoleUsersView, TicketViewsShowUsedAndRemainingWithoutTotalsOrRating) {
  UsersSnapshot snapshot = Prepared();
  snapshot.trafficOverheadPercent = 10;
  UsersGridOptions options;
  options.view = UsersView::kTicketUsed;
  UsersGrid grid = Built(snapshot, options);
  EXPECT_EQ(Column(grid, kUsersName), (std::vector<std::string>{"lab", "Tom"}));
  EXPECT_EQ(grid.Cell(1, kUsersTime), "0:02:00");
  EXPECT_EQ(grid.Cell(1, kUsersOutgoing), "1126 (1.1)") << "used traffic gets the overhead";
  EXPECT_EQ(grid.Cell(1, kUsersMoney), "30 (3у.е.)");
  EXPECT_EQ(grid.Cell(1, kUsersRating), "");

  options.view = UsersView::kTicketRemaining;
  grid = Built(snapshot, options);
  ASSERT_EQ(grid.Rows().size(), 2u);
  EXPECT_EQ(grid.Cell(1, kUsersOutgoing), "") << "no limit, nothing remaining to show";
  EXPECT_EQ(grid.Cell(1, kUsersTime), "");
  EXPECT_EQ(grid.Cell(1, kUsersIncoming), "500 (0.49)") << "the remaining amount is shown raw";
  EXPECT_EQ(grid.Cell(1, kUsersRating), "");
  EXPECT_EQ(grid.GrandTotal().outgoing, 1048576) << "totals of view 4 sum the used block";
}

TEST(ConsoleUsersView, RatingIsEmptyWhenNothingCostMoney) {
  UsersSnapshot snapshot = Prepared();
  for (ConsoleUser& user : snapshot.users) user.month.money = 0;
  const UsersGrid grid = Built(snapshot);
  for (const std::string& text : Column(grid, kUsersRating)) EXPECT_EQ(text, "");
  EXPECT_EQ(grid.Cell(RowOf(grid, UsersRowKind::kUser, 0), kUsersMoney), "25 (0у.е.)");
}

TEST(ConsoleUsersView, SortingByMoneyOrdersGroupsAndUsersWithTiesByName) {
  UsersGridOptions options;
  options.sortColumn = kUsersMoney;
  const UsersGrid grid = Built(Prepared(), options);
  // lab 6 before Office 5; alice and Bob both cost 2.5 and go by name.
  EXPECT_EQ(Column(grid, kUsersName), (std::vector<std::string>{"lab", "Carol", "Tom", "Итого:", "Office", "alice",
                                                                "Bob", "Dan", "Итого:", "Итого:"}));
  options.sortColumn = kUsersTime;
  EXPECT_EQ(
      Column(Built(Prepared(), options), kUsersName),
      (std::vector<std::string>{"Office", "Bob", "Dan", "alice", "Итого:", "lab", "Carol", "Tom", "Итого:", "Итого:"}));
}

TEST(ConsoleUsersView, EqualNamesOfDifferentCaseGoCapitalFirst) {
  UsersSnapshot snapshot;
  snapshot.groups = {{1, "G"}};
  snapshot.users = {User(0, 1, "eve", {}), User(1, 1, "Eve", {}), User(2, 1, "adam", {})};
  UsersGridOptions options;
  options.showGroups = false;
  EXPECT_EQ(Column(Built(snapshot, options), kUsersName), (std::vector<std::string>{"adam", "Eve", "eve", "Итого:"}));
}

TEST(ConsoleUsersView, MarkingGreyItalicBoldAndIndent) {
  UsersSnapshot snapshot = Prepared();
  snapshot.users[0].limits = {true, true, false, false, false, true};  // month limits; outgoing counted
  snapshot.users[3].hasTicket = true;                                  // Carol: no subscription open
  UsersGridOptions options;
  options.showTicketUsers = true;
  UsersGrid grid = Built(snapshot, options);
  const std::size_t bob = RowOf(grid, UsersRowKind::kUser, 0);
  EXPECT_TRUE(grid.Look(bob, kUsersName).italic);
  EXPECT_TRUE(grid.Look(bob, kUsersTime).italic);
  EXPECT_TRUE(grid.Look(bob, kUsersOutgoing).italic);
  EXPECT_FALSE(grid.Look(bob, kUsersIncoming).italic) << "the group does not count incoming";
  EXPECT_FALSE(grid.Look(bob, kUsersMoney).italic);
  EXPECT_FALSE(grid.Look(bob, kUsersName).grey);
  EXPECT_EQ(grid.Look(bob, kUsersName).indent, kUsersIndent);
  EXPECT_EQ(grid.Look(bob, kUsersTime).indent, 0);

  EXPECT_TRUE(grid.Look(RowOf(grid, UsersRowKind::kUser, 1), kUsersTime).grey) << "disabled";
  EXPECT_TRUE(grid.Look(RowOf(grid, UsersRowKind::kUser, 5), kUsersName).grey) << "deleted";
  EXPECT_TRUE(grid.Look(RowOf(grid, UsersRowKind::kUser, 3), kUsersName).grey) << "subscription not open";
  EXPECT_FALSE(grid.Look(RowOf(grid, UsersRowKind::kUser, 6), kUsersName).grey) << "subscription open";

  const std::size_t header = RowOf(grid, UsersRowKind::kGroupHeader, 1);
  EXPECT_TRUE(grid.Look(header, kUsersName).bold);
  EXPECT_FALSE(grid.Look(header, kUsersTime).bold);
  const std::size_t total = RowOf(grid, UsersRowKind::kGroupTotal, 1);
  EXPECT_TRUE(grid.Look(total, kUsersName).bold);
  EXPECT_EQ(grid.Look(total, kUsersName).indent, kUsersIndent);
  EXPECT_EQ(grid.Look(grid.Rows().size() - 1, kUsersName).indent, 0);

  // The day view marks only the day limits; the name keeps any.
  options.view = UsersView::kDay;
  grid = Built(snapshot, options);
  const std::size_t bobToday = RowOf(grid, UsersRowKind::kUser, 0);
  EXPECT_TRUE(grid.Look(bobToday, kUsersName).italic);
  EXPECT_FALSE(grid.Look(bobToday, kUsersTime).italic);
  EXPECT_FALSE(grid.Look(bobToday, kUsersOutgoing).italic);

  // An exhausted subscription sets the whole row in italics.
  snapshot.users[6].ticketExhausted = true;
  options.view = UsersView::kTicketUsed;
  grid = Built(snapshot, options);
  const std::size_t tom = RowOf(grid, UsersRowKind::kUser, 6);
  for (int column = 0; column < kUsersColumns; ++column) EXPECT_TRUE(grid.Look(tom, column).italic) << column;
}

TEST(ConsoleUsersView, CommandsFollowTheRow) {
  UsersGrid grid = Built(Prepared());
  const UsersRowCommands bob = grid.Commands(RowOf(grid, UsersRowKind::kUser, 0));
  EXPECT_TRUE(bob.statistics && bob.speed && bob.email && bob.closeSession && bob.disable);
  EXPECT_FALSE(bob.disabledMark || bob.ticket);
  const UsersRowCommands alice = grid.Commands(RowOf(grid, UsersRowKind::kUser, 1));
  EXPECT_TRUE(alice.disabledMark);
  EXPECT_FALSE(alice.email || alice.closeSession);
  const UsersRowCommands dan = grid.Commands(RowOf(grid, UsersRowKind::kUser, 5));
  EXPECT_TRUE(dan.statistics);
  EXPECT_FALSE(dan.speed || dan.email || dan.closeSession || dan.disable);
  const UsersRowCommands tom = grid.Commands(RowOf(grid, UsersRowKind::kUser, 6));
  EXPECT_TRUE(tom.ticket);
  const UsersRowCommands total = grid.Commands(RowOf(grid, UsersRowKind::kGroupTotal, 2));
  EXPECT_TRUE(total.statistics && total.speed);
  EXPECT_FALSE(total.disable || total.closeSession);
  const UsersRowCommands header = grid.Commands(RowOf(grid, UsersRowKind::kGroupHeader, 2));
  EXPECT_FALSE(header.statistics || header.speed);

  UsersSnapshot snapshot = Prepared();
  snapshot.users[6].ticketOpen = false;
  UsersGridOptions options;
  options.view = UsersView::kTicketUsed;
  grid = Built(snapshot, options);
  EXPECT_FALSE(grid.Commands(1).statistics) << "no subscription record to show";
  snapshot.users[6].ticketOpen = true;
  grid = Built(snapshot, options);
  EXPECT_TRUE(grid.Commands(1).statistics);
}

TEST(ConsoleUsersView, CommandsReachTheEngineOnlyWhenAllowed) {
  FakeConsoleEngine engine;
  const UsersGrid grid = Built(Prepared());
  EXPECT_TRUE(grid.CloseSession(engine, RowOf(grid, UsersRowKind::kUser, 0)));
  EXPECT_FALSE(grid.CloseSession(engine, RowOf(grid, UsersRowKind::kUser, 1))) << "alice has no address";
  EXPECT_FALSE(grid.ToggleDisabled(engine, RowOf(grid, UsersRowKind::kUser, 5))) << "Dan is deleted";
  EXPECT_TRUE(grid.ToggleDisabled(engine, RowOf(grid, UsersRowKind::kUser, 1)));
  EXPECT_FALSE(grid.ToggleDisabled(engine, 0)) << "a header";
  EXPECT_EQ(engine.closedUsers, (std::vector<std::uint32_t>{0}));
  EXPECT_EQ(engine.toggledUsers, (std::vector<std::uint32_t>{1}));
}

TEST(ConsoleUsersView, SpeedTargetsNameTheRecord) {
  const UsersGrid grid = Built(Prepared());
  auto bob = grid.SpeedTargetOf(RowOf(grid, UsersRowKind::kUser, 0));
  ASSERT_TRUE(bob);
  EXPECT_EQ(bob->subject, SpeedSubject::kUser);
  EXPECT_EQ(bob->name, "Bob");
  auto lab = grid.SpeedTargetOf(RowOf(grid, UsersRowKind::kGroupTotal, 2));
  ASSERT_TRUE(lab);
  EXPECT_EQ(lab->subject, SpeedSubject::kGroup);
  EXPECT_EQ(lab->id, 2u);
  EXPECT_EQ(lab->name, "lab");
  EXPECT_EQ(grid.SpeedTargetOf(grid.Rows().size() - 1)->subject, SpeedSubject::kProgram);
  EXPECT_FALSE(grid.SpeedTargetOf(RowOf(grid, UsersRowKind::kGroupHeader, 2)));
}

TEST(ConsoleUsersView, TheSelectedRecordIsReselectedAfterARebuild) {
  UsersGrid grid = Built(Prepared());
  EXPECT_EQ(grid.Selected(), 0u);
  grid.Select(RowOf(grid, UsersRowKind::kUser, 0));
  UsersGridOptions bySent;
  bySent.sortColumn = kUsersOutgoing;
  grid.Rebuild(Prepared(), bySent);
  ASSERT_TRUE(grid.Selected());
  EXPECT_EQ(grid.Rows()[*grid.Selected()].userId, 0u);
  EXPECT_EQ(grid.Rows()[*grid.Selected()].kind, UsersRowKind::kUser);

  grid.Select(RowOf(grid, UsersRowKind::kGroupTotal, 2));
  grid.Rebuild(Prepared(), {});
  EXPECT_EQ(grid.Rows()[*grid.Selected()], (UsersRow{UsersRowKind::kGroupTotal, 2, 0}));

  grid.Select(RowOf(grid, UsersRowKind::kUser, 6));
  UsersGridOptions withoutTickets;
  withoutTickets.showTicketUsers = false;
  grid.Rebuild(Prepared(), withoutTickets);
  EXPECT_EQ(grid.Selected(), 0u) << "Tom is gone: the first row";

  grid.Rebuild(UsersSnapshot{}, {});
  ASSERT_EQ(grid.Rows().size(), 1u) << "the grand total stands alone";
  EXPECT_EQ(grid.Selected(), 0u);
  UsersGridOptions used;
  used.view = UsersView::kTicketUsed;
  grid.Rebuild(UsersSnapshot{}, used);
  EXPECT_TRUE(grid.Rows().empty());
  EXPECT_FALSE(grid.Selected());
}

TEST(ConsoleUsersView, ThePanelAndTheDatesOfEachView) {
  EXPECT_TRUE(PanelOf(UsersView::kMonth).datePanel);
  EXPECT_FALSE(PanelOf(UsersView::kMonth).datesEditable);
  EXPECT_TRUE(PanelOf(UsersView::kInterval).datesEditable);
  EXPECT_FALSE(PanelOf(UsersView::kInterval).ticketButton);
  EXPECT_FALSE(PanelOf(UsersView::kTicketRemaining).datePanel);
  EXPECT_TRUE(PanelOf(UsersView::kTicketUsed).ticketButton);

  const std::int64_t now = LocalSeconds(2026, 12, 7, 15, 30);
  const std::int64_t today = LocalSeconds(2026, 12, 7);
  EXPECT_EQ(ViewDates(UsersView::kMonth, now, 10, {}), (DateSpan{LocalSeconds(2026, 11, 10), today}));
  EXPECT_EQ(ViewDates(UsersView::kMonth, now, 5, {}), (DateSpan{LocalSeconds(2026, 12, 5), today}));
  EXPECT_EQ(ViewDates(UsersView::kDay, now, 10, {}), (DateSpan{today, today}));
  EXPECT_EQ(ViewDates(UsersView::kInterval, now, 10, {}), (DateSpan{today, today}));
  const DateSpan chosen{LocalSeconds(2026, 10, 1), LocalSeconds(2026, 10, 31)};
  EXPECT_EQ(ViewDates(UsersView::kInterval, now, 10, chosen), chosen);
  EXPECT_EQ(ViewDates(UsersView::kDay, now, 10, chosen), (DateSpan{today, today}));
  EXPECT_FALSE(ViewDates(UsersView::kTicketUsed, now, 10, chosen));
}

TEST(ConsoleUsersView, ATypedDateConvertsOrNamesTheFault) {
  std::string warning;
  EXPECT_EQ(ParseIntervalDate(" 05.11.2026 ", warning), LocalSeconds(2026, 11, 5));
  EXPECT_EQ(warning, "");
  EXPECT_FALSE(ParseIntervalDate("31.02.2026", warning));
  EXPECT_EQ(warning, "\"31.02.2026\"- некоректная дата");
  EXPECT_FALSE(ParseIntervalDate("05.11.2026 10:00:00", warning));
}

TEST(ConsoleUsersView, RefreshRebuildsOnlyPeriodViews) {
  FakeConsoleEngine engine;
  const DateSpan span{LocalSeconds(2026, 10, 1), LocalSeconds(2026, 10, 3)};
  EXPECT_FALSE(RefreshCounters(engine, UsersView::kTicketUsed, span, {}));
  EXPECT_TRUE(engine.rebuilds.empty());
  EXPECT_TRUE(RefreshCounters(engine, UsersView::kInterval, span, {}));
  ASSERT_EQ(engine.rebuilds.size(), 1u);
  EXPECT_EQ(engine.rebuilds[0].view, RebuildView::kInterval);
  EXPECT_EQ(engine.rebuilds[0].first, span.first);
  EXPECT_EQ(engine.rebuilds[0].last, span.last);
}

TEST(ConsoleUsersView, ColumnCaptions) {
  EXPECT_EQ(UsersColumnCaptions(), (std::vector<std::string>{"Группы/пользователи", "IP-Адрес", "Время", "Отправл.",
                                                             "Получено", "Деньги", "Рейтинг"}));
}

}  // namespace
}  // namespace brindlex
