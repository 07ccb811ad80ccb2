#include "app/main_timer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/accounting.h"
#include "core/clock.h"
#include "core/connection.h"
#include "core/groups.h"
#include "core/log_files.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/report_exception.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/users.h"
#include "tests/unit/account_world.h"

namespace brindlex {
namespace {

constexpr std::int64_t kSecond = kPerformanceFrequency;

int CountLines(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) ++n;
  return n;
}

// One user; the clock starts a minute before midnight.
class MainTimerTest : public testing::AccountWorld {
 protected:
  void SetUp() override {
    AccountWorld::SetUp();
    SetLocalTime(LocalSeconds(2026, 12, 7, 23, 59, 0));
    group_->sessionTimeout = 60;
    user_ = AddUser("bob");
  }

  SessionRecord* AddAddress(const char* address) {
    std::lock_guard<std::mutex> lock(AccountsLock());
    SessionRecord* s = FindOrCreateSessionLocked(ParseIpv4(address));
    s->openConnections = 0;
    return s;
  }
  // A connection whose session is stamped, as after its access check.
  ConnectionRecord* Connect(const char* address) {
    ConnectionRecord* c = AccountWorld::Connect(user_, address);
    std::lock_guard<std::mutex> lock(AccountsLock());
    if (c->userSession->stamp == 0) c->userSession->stamp = clock_.counter;
    return c;
  }
  size_t Addresses() {
    std::lock_guard<std::mutex> lock(AccountsLock());
    return SessionListLocked().size();
  }
  // Returns how long the timer asks the loop to wait.
  std::chrono::nanoseconds Tick(std::int64_t advance) {
    clock_.Advance(advance);
    return MainTimerTimer(timer_);
  }

  MainTimer timer_;
  UserRecord* user_ = nullptr;
};

TEST_F(MainTimerTest, TheTickAsksForTheNextWholeSecondAndWorksOnlyThere) {
  using std::chrono::milliseconds;
  using std::chrono::nanoseconds;
  SessionRecord* s = AddAddress("10.0.0.1");
  s->idle = 0;
  EXPECT_EQ(Tick(0), milliseconds(1000));
  EXPECT_EQ(Tick(kSecond * 3 / 10), milliseconds(700));
  EXPECT_EQ(Tick(kSecond * 7 / 10 - 1), nanoseconds(1));
  EXPECT_EQ(s->idle, 0) << "no per-second work before the whole second";
  EXPECT_EQ(Tick(1), milliseconds(1000));
  EXPECT_EQ(s->idle, 1);
  EXPECT_EQ(Tick(kSecond * 5 / 2), milliseconds(500)) << "a late tick keeps the fraction";
  EXPECT_EQ(s->idle, 3);
}

TEST_F(MainTimerTest, TheTreeIsRepaintedWhenDirtyAndAfterEverySecond) {
  int repaints = 0;
  timer_.hooks.repaintTree = [&] { ++repaints; };
  Tick(0);
  repaints = 0;
  Tick(kSecond / 10);
  EXPECT_EQ(repaints, 0);
  Flags().treeDirty = true;
  Tick(kSecond / 10);
  EXPECT_EQ(repaints, 1) << "a dirty tree waits for no whole second";
  Tick(kSecond / 10);
  EXPECT_EQ(repaints, 1);
  Tick(kSecond * 7 / 10);
  EXPECT_EQ(repaints, 2) << "the per-second work marks the tree dirty";
}

TEST_F(MainTimerTest, ALateTickAddsWholeSecondsAndKeepsTheFraction) {
  SessionRecord* s = AddAddress("10.0.0.1");
  s->idle = 0;
  Tick(0);  // sets the second base
  Tick(kSecond * 7 / 2);
  EXPECT_EQ(s->idle, 3);
  Tick(kSecond / 2);
  EXPECT_EQ(s->idle, 4) << "the kept half second completes the fourth";
}

TEST_F(MainTimerTest, AnEmptyAddressGoesAtTheSweepWhereItsIdleCountReachedFive) {
  AddAddress("10.0.0.1");
  AddAddress("10.0.0.2");  // two records due at once both go
  Tick(0);
  for (int second = 1; second <= 5; ++second) {
    Tick(kSecond);
    EXPECT_EQ(Addresses(), 2u) << "second " << second;
  }
  Tick(kSecond);
  EXPECT_EQ(Addresses(), 0u);
}

TEST_F(MainTimerTest, OpenSessionsAreChargedAndAnIdleOneClosesAfterItsTimeOut) {
  ConnectionRecord* c = Connect("10.0.0.1");
  Tick(0);
  Tick(kSecond * 10);
  EXPECT_EQ(user_->dayCounters.timeMs, 10000);
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    UserSession* session = c->userSession;
    session->connections.clear();
    TimeStepLocked(*session, clock_.counter);
  }
  group_->sessionTimeout = 0;
  Tick(kSecond);
  std::lock_guard<std::mutex> lock(AccountsLock());
  EXPECT_TRUE(SessionListLocked().front()->userSessions.empty()) << "time-out 0 closes at the next sweep";
  EXPECT_TRUE(user_->activeAddresses.empty());
  EXPECT_EQ(CountLines(SessionLogPath(clock_.local)), 1);
  c->userSession = nullptr;
}

TEST_F(MainTimerTest, MidnightSplitsEverySessionOnceWithoutClosingConnections) {
  ConnectionRecord* c = Connect("10.0.0.1");
  c->bytesReceived = 100;
  user_->dayCounters.incoming = 100;
  user_->monthCounters.incoming = 100;
  Tick(0);  // 23:59:00: first day check remembers today
  Tick(kSecond * 30);
  EXPECT_EQ(CountLines(SessionLogPath(LocalSeconds(2026, 12, 7))), 0);
  Tick(kSecond * 31);  // 00:00:01 of the 8th
  std::string dec7 = SessionLogPath(LocalSeconds(2026, 12, 7, 23, 0, 0));
  EXPECT_EQ(CountLines(dec7), 1);
  EXPECT_EQ(CountLines(ConnectionLogPath(LocalSeconds(2026, 12, 7, 23, 0, 0))), 1);
  EXPECT_EQ(user_->dayCounters.incoming, 0) << "a new day starts from zero";
  EXPECT_EQ(user_->monthCounters.incoming, 100) << "the 8th is not the billing day";
  EXPECT_FALSE(c->closeRequested);
  EXPECT_EQ(c->bytesReceived, 0);
  Tick(kSecond);
  Tick(kSecond * 60);
  EXPECT_EQ(CountLines(dec7), 1) << "split exactly once";
}

TEST_F(MainTimerTest, SettingTheClockBackAcrossMidnightClearsNothing) {
  SetLocalTime(LocalSeconds(2026, 12, 8, 0, 0, 30));
  user_->dayCounters.incoming = 5;
  Tick(0);
  Tick(kSecond);             // the first day check remembers the 8th
  clock_.localBase -= 3600;  // back to 23:00 of the 7th
  Tick(kSecond);
  EXPECT_EQ(user_->dayCounters.incoming, 5);
  Tick(kSecond);
  EXPECT_EQ(user_->dayCounters.incoming, 5);
}

TEST_F(MainTimerTest, TheBillingDayClearsMonthCounters) {
  SetLocalTime(LocalSeconds(2026, 11, 30, 23, 59, 58));
  ChangeSettings([&](SystemSettings& s) { s.DayOfMontCalc = 25; });  // outside 1..20: the 1st
  user_->monthCounters.outgoing = 9;
  Tick(0);
  Tick(kSecond);  // 23:59:59: the first day check
  EXPECT_EQ(user_->monthCounters.outgoing, 9);
  Tick(kSecond);  // 00:00:00 on the 1st
  EXPECT_EQ(user_->monthCounters.outgoing, 0);
}

TEST_F(MainTimerTest, PrepaidSubscriptionsAreSavedEveryTenSeconds) {
  user_->rules.prepaid = true;
  user_->ticket.open = true;
  user_->ticket.number = 7;
  user_->ticket.used.incoming = 123;
  Tick(0);
  Tick(kSecond * 9);
  EXPECT_EQ(ReadText(SettingsPath()).find("[Tickets]"), std::string::npos);
  Tick(kSecond);
  EXPECT_NE(ReadText(SettingsPath()).find("bob=7; "), std::string::npos) << ReadText(SettingsPath());
}

// The fatal report's box and stop, caught instead of shown.
struct CaughtReports {
  CaughtReports() {
    SetFatalStopHooks({[this](const std::string&, const std::string& text) { texts.push_back(text); },
                       [this] { ++stops; }});
  }
  ~CaughtReports() {
    SetFatalStopHooks({});
    Flags().fatalStop = false;
  }
  std::vector<std::string> texts;
  int stops = 0;
};

TEST_F(MainTimerTest, AnExceptionIsReportedWithTheStepTheTickWasAt) {
  struct Step {
    std::function<void()> MainTimerHooks::*hook;
    int step;
  };
  for (const Step& failing : {Step{&MainTimerHooks::perSecondViews, 71}, Step{&MainTimerHooks::trayUpkeep, 76},
                              Step{&MainTimerHooks::repaintSpeedWindows, 78}, Step{&MainTimerHooks::repaintTree, 1}}) {
    CaughtReports reports;
    timer_.hooks = {};
    Tick(0);
    timer_.hooks.*failing.hook = [] { throw std::runtime_error("disk gone"); };
    Flags().treeDirty = true;
    EXPECT_EQ(Tick(kSecond), std::chrono::seconds(1)) << "a failed tick is tried again a second later";
    ASSERT_EQ(reports.texts.size(), 1u) << failing.step;
    EXPECT_EQ(reports.texts[0], ExceptionText("disk gone", "MainTimer", failing.step));
    EXPECT_EQ(reports.stops, 1);
  }
}

TEST_F(MainTimerTest, TheSilentAbortEndsTheTickWithoutAReportAndTheNextTickWorks) {
  CaughtReports reports;
  bool abort = true;
  int views = 0;
  timer_.hooks.perSecondViews = [&] {
    ++views;
    if (abort) throw AbortException();
  };
  Tick(0);
  Tick(kSecond);
  EXPECT_TRUE(reports.texts.empty());
  EXPECT_EQ(reports.stops, 0);
  EXPECT_FALSE(Flags().fatalStop);
  abort = false;
  Tick(kSecond);
  EXPECT_EQ(views, 2);
  EXPECT_TRUE(reports.texts.empty());
}

}  // namespace
}  // namespace brindlex
