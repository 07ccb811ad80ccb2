#include "core/subscriptions.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/program_folder.h"
#include "tests/unit/account_test_env.h"

namespace brindlex {
namespace {

constexpr std::int64_t kMb = 1024 * 1024;

// Besides the account fixture: the program folder in the same temporary
// folder, a stopped clock at 5 March 2024 10:20:30, default settings and a
// fresh subscription counter.
class Subscription : public testing::AccountTest {
 protected:
  void SetUp() override {
    AccountTest::SetUp();
    savedFolder_ = ProgramFolder();
    SetProgramFolder(Path(""));
    ASSERT_TRUE(EnsureFolder(LoggingFolder()));
    clock_.local = LocalSeconds(2024, 3, 5, 10, 20, 30);
    SetProgramClock(&clock_);
    PublishSettings(SystemSettings{});
    LoadCounters(IniDocument{});
  }
  void TearDown() override {
    LoadCounters(IniDocument{});
    PublishSettings(SystemSettings{});
    SetProgramClock(nullptr);
    SetProgramFolder(savedFolder_);
    AccountTest::TearDown();
  }

  UserRecord& Prepaid(const std::string& login) {
    UserRecord* user = FindOrCreateUser(login);
    user->deleted = false;
    user->rules.prepaid = true;
    return *user;
  }
  SubscriptionOutcome Apply(UserRecord& user, TicketEntry entry, bool direct = false) {
    return ApplySubscription(user, entry, direct);
  }
  std::string Log() { return ReadText(TicketLogPath()); }
  std::string Ticket(const std::string& login) { return Stored("Tickets", login); }

  std::string savedFolder_;
  ManualClock clock_;
};

TEST_F(Subscription, DateTimeRealsMapToLocalSecondsBothWays) {
  EXPECT_EQ(LocalSecondsToDateTime(0), 25569.0);
  EXPECT_EQ(LocalSecondsToDateTime(LocalSeconds(2024, 3, 5, 12)), 45356.5);
  EXPECT_EQ(LocalSecondsToDateTime(LocalSeconds(1899, 12, 29, 6)), -1.25);  // fraction is still the time of day
  EXPECT_EQ(DateTimeToLocalSeconds(-1.25), LocalSeconds(1899, 12, 29, 6));
  EXPECT_EQ(DateTimeToLocalSeconds(std::nan("")), LocalSeconds(1899, 12, 30));
  EXPECT_EQ(DateTimeToLocalSeconds(1e300), LocalSeconds(9999, 12, 31, 23, 59, 59));
  for (std::int64_t s : {LocalSeconds(2024, 3, 5, 23, 59, 59), LocalSeconds(1901, 1, 1, 0, 0, 1), std::int64_t{-1}})
    EXPECT_EQ(DateTimeToLocalSeconds(LocalSecondsToDateTime(s)), s);
  EXPECT_EQ(FormatTicketDate(45356.5), "05/03/24, 12:00:00, ");
}

TEST_F(Subscription, StoredFormKeepsEveryFieldInPlaceAndReadsDamageAsZero) {
  TicketRecord t{true, 7, 45356.5, 45357.25, {1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}};
  // limits: outgoing, incoming, time, money, national; then the used block the same way
  EXPECT_EQ(FormatTicket(t), "7; 45356.5; 45357.25; 2; 3; 1; 4; 5; 7; 8; 6; 9; 10");
  EXPECT_EQ(ParseTicket(FormatTicket(t)), t);
  EXPECT_EQ(ParseTicket("9; x; 1e999; 100"), (TicketRecord{true, 9, 0, 0, {0, 100, 0, 0, 0}, {}}));
  EXPECT_EQ(ParseTicket("99999999999; 1e7").number, 0);
  EXPECT_EQ(ParseTicket("1; 1e7").openedAt, 0);  // beyond the year 9999

  UserRecord& user = Prepaid("ivan");
  user.ticket = t;
  ReadSubscription(user, ParseIni("[Tickets]\nivan=  \n"));
  EXPECT_FALSE(user.ticket.open);
}

TEST_F(Subscription, PrepaidUserNeedsAnOpenTicketWithSomethingLeft) {
  UserRecord& user = Prepaid("ivan");
  EXPECT_FALSE(SubscriptionTest(user));
  user.rules.prepaid = false;
  EXPECT_TRUE(SubscriptionTest(user));
  user.rules.prepaid = true;

  SubscriptionOutcome opened = Apply(user, {"0", "10", "", "0", "0"});
  ASSERT_TRUE(opened.edit.ok);
  EXPECT_EQ(opened.event, "OPEN_TICKET");
  EXPECT_EQ(opened.monitorText, "OPEN_TICKET, ivan, 05/03/24, 10:20:30");
  EXPECT_EQ(user.ticket.limit, (CounterBlock{0, 0, 10 * kMb, 0, 0}));
  EXPECT_EQ(Remaining(user),
            (CounterBlock{kUnlimitedAmount, kUnlimitedAmount, 10 * kMb, kUnlimitedAmount, kUnlimitedAmount}));

  // Corrected by 10 %: 9 532 509 counts as 10 485 759, one more byte reaches the limit.
  ChangeSettings([&](SystemSettings& s) { s.CorrectTraffic = 10; });
  user.ticket.used.incoming = 9532509;
  user.ticket.used.outgoing = 50 * kMb;  // unlimited direction
  EXPECT_TRUE(SubscriptionTest(user));
  EXPECT_EQ(Remaining(user).incoming, 1);
  user.ticket.used.incoming = 9532510;
  EXPECT_FALSE(SubscriptionTest(user));
  EXPECT_EQ(Remaining(user).incoming, -1);
}

TEST_F(Subscription, TopUpAddsAndDirectEditReplacesLimitsButNeverUsed) {
  UserRecord& user = Prepaid("ivan");
  Apply(user, {"0", "10", "0", "0", "0"});
  user.ticket.used = {1, 2, 3, 4, 5};
  TicketRecord before = user.ticket;
  clock_.local += 3600;

  SubscriptionOutcome added = Apply(user, {"", "5", "", "", ""});
  EXPECT_EQ(added.event, "ADD_TICKET");
  before.limit.incoming = 15 * kMb;  // number, opening time and used amounts stay
  before.changedAt = DateTimeNow();
  EXPECT_EQ(user.ticket, before);
  EXPECT_NE(Log().find("ADD_TICKET, ivan, 05/03/24, 11:20:30, 05/03/24, 10:20:30, 05/03/24, 11:20:30, 0, 15728640, "
                       "0, 0,0,2, 3, 1, 4, 5, \r\n"),
            std::string::npos);

  Apply(user, {"1.5", "0", "90", "2.5", "100"}, true);
  EXPECT_EQ(user.ticket.limit, (CounterBlock{5'400'000, 1'572'864, 0, 2'621'440'000, 104'857'600'000}));
  Apply(user, {"0", "0", "0", "0", "0"}, true);
  EXPECT_EQ(user.ticket.limit, CounterBlock{});
  EXPECT_TRUE(SubscriptionTest(user));
  EXPECT_EQ(Remaining(user).money, kUnlimitedAmount);
}

TEST_F(Subscription, BadEntryStopsBeforeAnythingChanges) {
  UserRecord& user = Prepaid("ivan");
  TicketEntry entry{"", "1 0", "x", "0", "0"};
  SubscriptionOutcome failed = ApplySubscription(user, entry, false);
  EXPECT_FALSE(failed.edit.ok);
  EXPECT_EQ(failed.edit.caption, "Ошибка преобразования");
  EXPECT_EQ(failed.edit.message, "\"1 0\"- некорректное число");
  EXPECT_EQ(entry.outgoingMb, "0");
  for (TicketEntry bad : {TicketEntry{"-1", "", "", "", ""}, TicketEntry{"", "", "", "", "99999999999999999999"}})
    EXPECT_FALSE(ApplySubscription(user, bad, false).edit.ok);
  EXPECT_FALSE(user.ticket.open);
  EXPECT_EQ(Ticket("ivan"), "<absent>");
  EXPECT_EQ(Log(), "");

  Apply(user, {"8000000000000", "", "", "", ""});  // 8.4e18 bytes fits once, not twice
  TicketRecord before = user.ticket;
  EXPECT_FALSE(Apply(user, {"8000000000000", "", "", "", ""}).edit.ok);
  EXPECT_EQ(user.ticket, before);
  EXPECT_EQ(NextTicketId(), before.number + 1);  // the failed top-up took no number
}

TEST_F(Subscription, NumbersAndAmountsSurviveARestart) {
  IniWriteString(SettingsPath(), "System", "CurIdTicket", "41");
  LoadCounters(LoadIniFile(SettingsPath()));
  ChangeSettings([&](SystemSettings& s) { s.KbPerMb = 1000; });
  Apply(Prepaid("anna"), {"", "", "", "2.5", "100"});
  Apply(Prepaid("ivan"), {"1", "", "", "", ""});

  // A fresh process: counters and tickets come back from the file only.
  LoadCounters(IniDocument{});
  Users().clear();
  LoadCounters(LoadIniFile(SettingsPath()));
  UserRecord& anna = Prepaid("anna");
  ReadSubscription(anna, SettingsPath());
  EXPECT_EQ(anna.ticket.number, 42);
  EXPECT_EQ(anna.ticket.limit, (CounterBlock{0, 0, 0, 2'560'000'000, 102'400'000'000}));
  EXPECT_NEAR(DateTimeToLocalSeconds(anna.ticket.openedAt), clock_.local, 5);  // 4 decimals of a day
  UserRecord& ivan = Prepaid("ivan");
  ReadAllSubscriptions(LoadIniFile(SettingsPath()));
  EXPECT_EQ(ivan.ticket.number, 43);
  EXPECT_EQ(ivan.ticket.limit.outgoing, 1'024'000);
  Apply(Prepaid("petr"), {"1", "", "", "", ""});
  EXPECT_EQ(FindUser("petr")->ticket.number, 44);
}

TEST_F(Subscription, SaveAllWritesOnlyLiveChangedTickets) {
  UserRecord& ivan = Prepaid("ivan");
  UserRecord& gone = Prepaid("gone");
  UserRecord& plain = Prepaid("plain");
  for (UserRecord* u : {&ivan, &gone, &plain}) Apply(*u, {"1", "", "", "", ""});
  gone.deleted = true;
  plain.rules.prepaid = false;
  for (UserRecord* u : {&ivan, &gone, &plain}) u->ticket.used.outgoing = 77;

  EXPECT_EQ(SaveAllSubscriptions(), 1);
  EXPECT_EQ(ParseTicket(Ticket("ivan")).used.outgoing, 77);
  EXPECT_EQ(ParseTicket(Ticket("gone")).used.outgoing, 0);
  EXPECT_EQ(ParseTicket(Ticket("plain")).used.outgoing, 0);
  EXPECT_EQ(SaveAllSubscriptions(), 0);
}

TEST_F(Subscription, CloseLogsTheLastValuesAndForgetsTheTicket) {
  UserRecord& user = Prepaid("ivan");
  EXPECT_EQ(CloseSubscription(user).event, "");
  Apply(user, {"1", "", "", "", ""});
  user.ticket.used.outgoing = 500;
  SubscriptionOutcome closed = CloseSubscription(user);
  EXPECT_EQ(closed.event, "CLOSE_TICKET");
  EXPECT_EQ(user.ticket, TicketRecord{});
  EXPECT_EQ(Ticket("ivan"), "<absent>");
  EXPECT_NE(Log().find("CLOSE_TICKET, ivan, 05/03/24, 10:20:30, 05/03/24, 10:20:30, 05/03/24, 10:20:30, 1048576, 0, 0, "
                       "0,0,500, 0, 0, 0, 0, \r\n"),
            std::string::npos);
  EXPECT_FALSE(SubscriptionTest(user));
}

TEST_F(Subscription, LogLinesFromManyThreadsStayWhole) {
  std::vector<std::string> lines;
  for (const char* login : {"anna", "ivan", "petr", "olga"})
    lines.push_back(FormatTicketLogLine("ADD_TICKET", login, 45356.5, TicketRecord{}));
  std::vector<std::thread> threads;
  for (const std::string& line : lines)
    threads.emplace_back([&line] {
      for (int i = 0; i < 200; ++i) AppendTicketLog(line);
    });
  for (auto& thread : threads) thread.join();
  std::string log = Log();
  size_t size = lines[0].size();
  ASSERT_EQ(log.size(), size * 800);
  for (size_t at = 0; at < log.size(); at += size)
    ASSERT_NE(std::find(lines.begin(), lines.end(), log.substr(at, size)), lines.end()) << at;
  SetProgramFolder(Path("missing"));
  EXPECT_FALSE(AppendTicketLog(lines[0]));
}

}  // namespace
}  // namespace brindlex
