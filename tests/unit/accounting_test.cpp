#include "core/accounting.h"

#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "core/clock.h"
#include "core/connection.h"
#include "core/display_forms.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/users.h"
#include "tests/unit/account_world.h"

namespace brindlex {
namespace {

// One user working from one address with one connection.
class Accounting : public testing::AccountWorld {
 protected:
  void SetUp() override {
    AccountWorld::SetUp();
    user_ = AddUser("bob");
    connection_ = Connect(user_, "10.0.0.5");
    session_ = connection_->userSession;
  }

  UserRecord* user_ = nullptr;
  ConnectionRecord* connection_ = nullptr;
  UserSession* session_ = nullptr;
};

TEST_F(Accounting, TrafficIsPricedInScaledIntegersPerMegabyte) {
  ChangeSettings([&](SystemSettings& s) { s.KbPerMb = 1000; });
  group_->tariffIn = 2;
  group_->exchangeRate = 30;
  IncomingStep(*session_, 1024000);
  EXPECT_EQ(user_->dayCounters.incoming, 1024000);
  EXPECT_EQ(user_->monthCounters.money, 2048000000);
  EXPECT_EQ(session_->counters.nationalMoney, 61440000000);
  EXPECT_EQ(FormatMoney(user_->monthCounters.money), "2");

  group_->tariffOut = 0.0005;  // below the price unit: free
  OutgoingStep(*session_, 5000000);
  EXPECT_EQ(user_->dayCounters.outgoing, 5000000);
  EXPECT_EQ(user_->dayCounters.money, 2048000000);
}

TEST_F(Accounting, TimeIsChargedFromTheStampAndPricedPerHour) {
  group_->tariffHour = 1;
  std::lock_guard<std::mutex> lock(AccountsLock());
  TimeStepLocked(*session_, clock_.counter + kPerformanceFrequency);
  EXPECT_EQ(user_->dayCounters.timeMs, 0) << "a session never stamped is not charged";
  session_->stamp = clock_.counter;
  TimeStepLocked(*session_, clock_.counter + 3600 * kPerformanceFrequency);
  EXPECT_EQ(user_->monthCounters.timeMs, 3600000);
  EXPECT_EQ(user_->monthCounters.money, 1024LL * 1024 * 1000) << "one hour at tariff 1 is one unit";
  EXPECT_EQ(session_->stamp, clock_.counter + 3600 * kPerformanceFrequency);
}

TEST_F(Accounting, PrepaidUsersAreChargedOnTheirSubscriptionToo) {
  user_->rules.prepaid = true;
  group_->tariffOut = 1;
  OutgoingStep(*session_, 100);
  EXPECT_EQ(user_->ticket.used.outgoing, 100);
  EXPECT_EQ(user_->ticket.used.money, 100000);
  user_->rules.prepaid = false;
  OutgoingStep(*session_, 100);
  EXPECT_EQ(user_->ticket.used.outgoing, 100);
}

TEST_F(Accounting, CountedTrafficUsesTheGroupsFlagsAndTheCorrection) {
  ChangeSettings([&](SystemSettings& s) { s.CorrectTraffic = 10; });
  group_->rules.countOutgoing = false;
  group_->rules.countIncoming = true;
  user_->rules.countIncoming = false;  // the user's own copy is not what counts
  IncomingStep(*session_, 1000);
  OutgoingStep(*session_, 500);
  EXPECT_EQ(CountedTraffic(*user_).day, 1100);
  EXPECT_EQ(CountedTraffic(*user_).month, 1100);
  EXPECT_EQ(user_->dayCounters.incoming, 1000) << "stored counters stay uncorrected";
}

TEST_F(Accounting, LimitsAreExceededOnlyWhenStrictlyPassed) {
  user_->rules.monthMb = 100;
  user_->dayCounters = {};
  user_->monthCounters.incoming = 100LL * 1024 * 1024;
  EXPECT_FALSE(LimitTest(*user_).Any());
  user_->monthCounters.incoming += 1;
  EXPECT_TRUE(LimitTest(*user_).monthTraffic);
  EXPECT_EQ(LimitTest(*user_).RefusalCode(), 487);

  user_->rules.dayMinutes = 1;
  user_->dayCounters.timeMs = 60999;
  EXPECT_FALSE(LimitTest(*user_).dayTime) << "whole seconds: 60 s is one minute";
  user_->dayCounters.timeMs = 61000;
  EXPECT_EQ(LimitTest(*user_).RefusalCode(), 490) << "the last exceeded limit gives the code";
}

TEST_F(Accounting, ContinuingCheckEndsSlowsOrLetsGo) {
  user_->rules.dayMb = 1;
  user_->dayCounters.incoming = 2 * 1024 * 1024;
  user_->rules.speedExceeded = 0;
  ContinuingCheck(*connection_);
  EXPECT_TRUE(connection_->serverFinished) << "an exceeded limit with speedExceeded 0 ends the connection";

  connection_->serverFinished = false;
  user_->rules.speedExceeded = 20;
  ContinuingCheck(*connection_);
  EXPECT_FALSE(connection_->serverFinished);
  EXPECT_DOUBLE_EQ(session_->speed.load(), 20) << "a non-zero speedExceeded slows the session";

  user_->rules.allowedAfterExceed[kColumnHttp] = true;
  user_->disabled = true;
  ContinuingCheck(*connection_);
  EXPECT_TRUE(connection_->serverFinished) << "a disabled user is cut whatever else holds";

  connection_->serverFinished = false;
  user_->disabled = false;
  user_->schedule = Schedule{};  // nothing allowed
  ContinuingCheck(*connection_);
  EXPECT_FALSE(connection_->serverFinished) << "allowed after exceed skips schedule and limits";
  user_->rules.allowedAfterExceed[kColumnHttp] = false;
  ContinuingCheck(*connection_);
  EXPECT_TRUE(connection_->serverFinished) << "outside the schedule";

  connection_->serverFinished = false;
  connection_->service = kServicePortMapUdp;
  user_->schedule = FullSchedule();
  user_->rules.allowedAfterExceed[kColumnPortMap] = true;
  user_->rules.speedExceeded = 0;
  ContinuingCheck(*connection_);
  EXPECT_TRUE(connection_->serverFinished) << "UDP mapping has no allowed-after-exceed column";
}

// A reload of the accounts (SIGHUP) rewrites every field of a user under the
// accounts lock while workers run their continuing check; the check reads
// them under the same lock (ThreadSanitizer shows a race otherwise).
TEST_F(Accounting, ContinuingCheckRacesNoAccountsReload) {
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop.load()) ContinuingCheck(*connection_);
  });
  for (int i = 0; i < 2000; ++i) {
    std::lock_guard<std::mutex> lock(AccountsLock());
    user_->rules.maxDocumentMb = i % 2;
    user_->rules.speedExceeded = i % 3;
    user_->rules.finishTransfers = i % 2 == 0;
    user_->schedule = FullSchedule();
  }
  stop = true;
  worker.join();
  EXPECT_FALSE(connection_->serverFinished) << "nothing the reload wrote ends this connection";
}

// The same for the transfer path: the gate reads the big-transfer fields and
// the counting reads the user's group while a reload may rewrite them.
TEST_F(Accounting, TransfersRaceNoAccountsReload) {
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop.load()) {
      TransferGate gate(*connection_);
      gate.Done(gate.Limit(100, true));
      CountReceived(*connection_, 100);
    }
  });
  for (int i = 0; i < 2000; ++i) {
    std::lock_guard<std::mutex> lock(AccountsLock());
    user_->rules.bigTransferMb = i % 7;
    user_->rules.bigTransferSpeed = 0;
    user_->group = i % 2 ? group_ : nullptr;
  }
  stop = true;
  worker.join();
  std::lock_guard<std::mutex> lock(AccountsLock());
  EXPECT_EQ(user_->dayCounters.incoming, connection_->bytesReceived);
}

// Two connections of one user overlap their I/O: each takes its share of the
// budget before the socket call and settles after it.
TEST_F(Accounting, AShareThatDidNotMoveGoesBackUnlessTheBudgetWasRefilled) {
  session_->speed = 50;  // 5 120 bytes per period
  SetSpeedSleep([this] { clock_.Advance(kPerformanceFrequency / 1000); });
  ConnectionRecord* second = Connect(user_, "10.0.0.5");
  {
    TransferGate first(*connection_);
    first.Done(first.Limit(kBufferSize, true));  // the very first piece: one byte, then a full budget
  }
  ASSERT_EQ(session_->budget, 5120);

  TransferGate a(*connection_);
  EXPECT_EQ(a.Limit(4000, true), 4000);
  TransferGate b(*second);
  EXPECT_EQ(b.Limit(kBufferSize, true), 1120) << "only what a left";
  EXPECT_EQ(session_->budget, 0);
  a.Done(1000);  // 3 000 of a's share did not move: back to the budget
  EXPECT_EQ(session_->budget, 3000);
  std::int64_t periodStart = session_->periodStart;
  b.Done(1120);
  EXPECT_EQ(session_->budget, 3000) << "b moved all it took";
  EXPECT_EQ(session_->periodStart, periodStart);

  // A share taken before a refill does not swell the new period's budget.
  TransferGate c(*connection_);
  EXPECT_EQ(c.Limit(kBufferSize, true), 3000);
  TransferGate d(*second);
  EXPECT_EQ(d.Limit(kBufferSize, true), 1) << "at least one byte moves";
  d.Done(1);  // spends the budget: refilled after the period
  EXPECT_EQ(session_->budget, 5120);
  EXPECT_GT(session_->periodStart, periodStart);
  c.Done(0);
  EXPECT_EQ(session_->budget, 5120);
}

TEST_F(Accounting, SessionSpeedLimitHoldsOverAllConnectionsPerPeriod) {
  // 50 KB/s: 5 120 bytes per 100 ms, shared by the session's connections.
  session_->speed = 50;
  SetSpeedSleep([this] { clock_.Advance(kPerformanceFrequency / 1000); });
  ConnectionRecord* second = Connect(user_, "10.0.0.5");
  std::map<std::int64_t, std::int64_t> perPeriod;
  for (int piece = 0; piece < 400; ++piece) {
    ConnectionRecord& c = piece % 2 ? *second : *connection_;
    TransferGate gate(c);
    int moved = gate.Limit(kBufferSize, true);
    perPeriod[(clock_.counter - 1) / (kPerformanceFrequency / 10)] += moved;
    gate.Done(moved);
    clock_.Advance(kPerformanceFrequency / 1000);  // the transfer itself takes a little time
  }
  ASSERT_GT(perPeriod.size(), 10u);
  for (auto [period, bytes] : perPeriod) EXPECT_LE(bytes, 5120 + 1) << "period " << period;
}

TEST_F(Accounting, SpeedStepWaitsForTheNextPeriodOnlyWhenTheBudgetIsSpent) {
  int sleeps = 0;
  SetSpeedSleep([&] {
    ++sleeps;
    clock_.Advance(kPerformanceFrequency / 1000);
  });
  std::int32_t budget = 0;
  std::int64_t periodStart = 0;
  SpeedStep(budget, periodStart, 10, 1);
  EXPECT_EQ(budget, 1024);
  EXPECT_EQ(periodStart, clock_.counter);
  SpeedStep(budget, periodStart, 10, 1000);
  EXPECT_EQ(sleeps, 0);
  EXPECT_EQ(budget, 24);
  SpeedStep(budget, periodStart, 10, 24);
  EXPECT_EQ(sleeps, 100) << "waits out the rest of the 100 ms period";
  EXPECT_EQ(budget, 1024);
}

TEST_F(Accounting, SpeedHistoriesStartFromNoDataAndShift) {
  SpeedHistory history;
  ClearSpeedHistory(history);
  AddToSpeedHistory(history, 10);
  AddToSpeedHistory(history, 5);
  EXPECT_EQ(history[0], 15);
  ShiftSpeedHistory(history);
  EXPECT_EQ(history[0], -1);
  EXPECT_EQ(history[1], 15);
  EXPECT_EQ(history[299], -1);
}

TEST_F(Accounting, DayRolloverClearsDayBlocksAndOnTheBillingDayMonthBlocks) {
  user_->dayCounters.incoming = 5;
  user_->monthCounters.incoming = 7;
  ChangeSettings([&](SystemSettings& s) { s.DayOfMontCalc = 25; });  // counts as 1
  std::lock_guard<std::mutex> lock(AccountsLock());
  ClearDayCountersLocked(2);
  EXPECT_EQ(user_->dayCounters.incoming, 0);
  EXPECT_EQ(user_->monthCounters.incoming, 7);
  ClearDayCountersLocked(1);
  EXPECT_EQ(user_->monthCounters.incoming, 0);
}

TEST(DisplayForms, TimeTrafficAndMoney) {
  PublishSettings(SystemSettings{});
  EXPECT_EQ(FormatSeconds(3723), "1:02:03");
  EXPECT_EQ(FormatSeconds(-5), "-5");
  EXPECT_EQ(FormatMilliseconds(kNoValue), "");
  EXPECT_EQ(FormatTraffic(3 * 1024 * 1024 / 2), "1536 (1.5)");
  EXPECT_EQ(FormatTraffic(2048, TrafficUnit::Kb), "2");
  EXPECT_EQ(FormatTraffic(kNoValue), "");
  EXPECT_EQ(FormatMoney(1024LL * 1024 * 1000 * 5 / 2), "2.5");
}

TEST(DisplayForms, DatesAndTimesReadBack) {
  const std::int64_t t = LocalSeconds(2026, 3, 7, 9, 5, 4);
  EXPECT_EQ(FormatShortDate(t), "07.03.2026");
  EXPECT_EQ(FormatDateAndTime(t), "07.03.2026 09:05:04");
  std::int64_t read = 0;
  bool hasTime = false;
  ASSERT_TRUE(ParseDateAndTime(" 07.03.2026 09:05:04 ", read, hasTime));
  EXPECT_EQ(read, t);
  EXPECT_TRUE(hasTime);
  ASSERT_TRUE(ParseDateAndTime("07.03.2026", read, hasTime));
  EXPECT_EQ(read, LocalSeconds(2026, 3, 7));
  EXPECT_FALSE(hasTime);
  for (std::string_view bad : {"", "Всего", "7.03.2026", "31.02.2026", "07.13.2026", "07.03.2026 24:00:00",
                               "07.03.2026 09:05", "07.03.2026x", "07.03.2026 09:05:04 x", "00.03.2026"})
    EXPECT_FALSE(ParseDateAndTime(bad, read, hasTime)) << bad;
}

}  // namespace
}  // namespace brindlex
