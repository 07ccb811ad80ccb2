#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

#include "console/local_engine.h"
#include "core/account_source.h"
#include "core/accounting.h"
#include "core/file_io.h"
#include "core/ini_file.h"
#include "core/log_files.h"
#include "core/settings.h"
#include "reports/report_service.h"
#include "tests/unit/account_world.h"

namespace brindlex::testing {
namespace {

class LocalEngineTest : public AccountWorld {
 protected:
  void TearDown() override {
    {
      std::lock_guard<std::mutex> lock(AccountsLock());
      ConnectionListLocked().clear();
    }
    AccountWorld::TearDown();
  }

  // A connection the listener would have listed.
  ConnectionRecord* Listed(UserRecord* user, const char* address) {
    ConnectionRecord* connection = Connect(user, address);
    std::lock_guard<std::mutex> lock(AccountsLock());
    ConnectionListLocked().push_back(connection);
    return connection;
  }

  LocalEngine engine_{[](int) {}};
};

TEST_F(LocalEngineTest, CloseSessionReachesEveryConnectionOfTheUserAndNoOtherUser) {
  UserRecord* ann = AddUser("ann");
  UserRecord* bob = AddUser("bob");
  ConnectionRecord* first = Listed(ann, "192.168.0.10");
  ConnectionRecord* second = Listed(ann, "192.168.0.10");
  ConnectionRecord* other = Listed(bob, "192.168.0.11");
  ASSERT_EQ(first->userSession, second->userSession);

  engine_.CloseUserSessions(0);
  EXPECT_TRUE(first->closeRequested);
  EXPECT_TRUE(second->closeRequested);
  EXPECT_TRUE(first->userSession->closeRequested);
  EXPECT_FALSE(other->closeRequested);
  // A user number past the table is no user at all.
  engine_.CloseUserSessions(7);
  EXPECT_FALSE(other->closeRequested);
}

TEST_F(LocalEngineTest, TheTreeShowsEveryLevelAndItsCommandsTrustOnlyLiveHandles) {
  UserRecord* ann = AddUser("ann");
  ann->name = "Ann Lee";
  ConnectionRecord* first = Listed(ann, "192.168.0.10");
  ConnectionRecord* second = Listed(ann, "192.168.0.10");
  first->bytesSent = 120;
  first->bytesReceived = 4096;
  first->url = "http://example.test/";

  const auto tree = engine_.SessionTree();
  ASSERT_TRUE(tree);
  ASSERT_EQ(tree->size(), 1u);
  const ConsoleAddressSession& address = tree->front();
  EXPECT_EQ(address.address, ParseIpv4("192.168.0.10"));
  ASSERT_EQ(address.userSessions.size(), 1u);
  EXPECT_EQ(address.userSessions[0].userName, "Ann Lee");
  EXPECT_EQ(address.userSessions[0].login, "ann");
  ASSERT_EQ(address.userSessions[0].connections.size(), 2u);
  const ConsoleConnection& line = address.userSessions[0].connections[0];
  EXPECT_EQ(line.serviceName, "HTTP");
  EXPECT_EQ(line.sent, 120);
  EXPECT_EQ(line.received, 4096);
  EXPECT_EQ(line.url, "http://example.test/");

  // A handle that names no live record (the line went since the paint)
  // changes nothing.
  engine_.CloseTreeLine(TreeLineKind::kConnection, line.handle + 1);
  engine_.CloseTreeLine(TreeLineKind::kUserSession, line.handle);
  EXPECT_FALSE(first->closeRequested);
  EXPECT_FALSE(second->closeRequested);

  engine_.CloseTreeLine(TreeLineKind::kConnection, line.handle);
  EXPECT_TRUE(first->closeRequested);
  EXPECT_FALSE(second->closeRequested);

  engine_.CloseTreeLine(TreeLineKind::kAddress, address.handle);
  EXPECT_TRUE(second->closeRequested);
  std::lock_guard<std::mutex> lock(AccountsLock());
  EXPECT_EQ(SessionListLocked().front()->idle, -1);
}

TEST_F(LocalEngineTest, TheTreeIsSkippedWhileTheAccountsLockIsBusy) {
  Listed(AddUser("ann"), "192.168.0.10");
  std::lock_guard<std::mutex> lock(AccountsLock());
  EXPECT_FALSE(engine_.SessionTree());
}

TEST_F(LocalEngineTest, DisablingClosesTheSessionAndIsSavedToTheSettingsFile) {
  UserRecord* ann = AddUser("ann");
  ConnectionRecord* connection = Listed(ann, "192.168.0.10");
  engine_.ToggleUserDisabled(0);
  EXPECT_TRUE(ann->disabled);
  EXPECT_TRUE(connection->closeRequested);

  IniDocument document = LoadIniFile(SettingsPath());
  AccountSource source{&document, &document};
  UserRecord stored;
  stored.login = "ann";
  ReadUser(stored, source);
  EXPECT_FALSE(stored.deleted);
  EXPECT_TRUE(stored.disabled);

  engine_.ToggleUserDisabled(0);
  document = LoadIniFile(SettingsPath());
  ReadUser(stored, source);
  EXPECT_FALSE(stored.disabled);
}

TEST_F(LocalEngineTest, TheUsersSnapshotCarriesFiguresAddressesAndReachedLimits) {
  UserRecord* ann = AddUser("ann");
  ann->monthCounters.incoming = 5 * 1048576;
  ann->rules.monthMb = 4;
  group_->rules.countIncoming = true;
  Listed(ann, "192.168.0.10");

  const UsersSnapshot snapshot = engine_.Users();
  ASSERT_EQ(snapshot.users.size(), 1u);
  const ConsoleUser& user = snapshot.users[0];
  EXPECT_EQ(user.login, "ann");
  EXPECT_EQ(user.month.incoming, 5 * 1048576);
  EXPECT_EQ(user.activeAddresses, std::vector<Ipv4>{ParseIpv4("192.168.0.10")});
  EXPECT_TRUE(user.limits.monthTraffic);
  EXPECT_FALSE(user.limits.dayTraffic);
  EXPECT_TRUE(user.limits.countsIncoming);
  ASSERT_EQ(snapshot.groups.size(), 1u);
  EXPECT_EQ(snapshot.groups[0].number, user.groupNumber);
}

// An interval that reaches today shows today as the day view does (the logs
// and the open sessions, counted as they go); one that ends before today
// shows the logs alone; when the day is over the interval is read again.
TEST_F(LocalEngineTest, AnIntervalReachingTodayShowsTodayAsTheDayViewDoes) {
  const std::int64_t today = LocalSeconds(2026, 12, 7);
  const std::int64_t yesterday = LocalSeconds(2026, 12, 6);
  const std::int64_t before = LocalSeconds(2026, 12, 5);
  const auto log = [](std::int64_t day, const std::string& line) {
    std::ofstream(SessionLogPath(day), std::ios::app | std::ios::binary) << line << "\n";
  };
  log(before, "ann, ann, 192.168.0.10, 12.05.26, 10:00:00, 60000, 400, 40, 0, 0");
  log(yesterday, "ann, ann, 192.168.0.10, 12.06.26, 10:00:00, 120000, 2000, 200, 0, 0");
  log(today, "ann, ann, 192.168.0.10, 12.07.26, 09:00:00, 30000, 1000, 100, 0, 0");
  UserRecord* ann = AddUser("ann");
  UserSession* session = Listed(ann, "192.168.0.10")->userSession;
  ASSERT_NE(session, nullptr);
  IncomingStep(*session, 5000);  // not logged yet: the session is open
  OutgoingStep(*session, 50);
  engine_.RebuildCounters(RebuildView::kDay, today, today, {});
  const auto figures = [&] { return engine_.Users().users.at(0); };
  ASSERT_EQ(figures().day.incoming, 6000);

  engine_.RebuildCounters(RebuildView::kInterval, today, today, {});
  EXPECT_EQ(figures().period, figures().day);
  IncomingStep(*session, 700);
  EXPECT_EQ(figures().period.incoming, 6700) << "counted as it goes, like the day";
  EXPECT_EQ(figures().period, figures().day);

  engine_.RebuildCounters(RebuildView::kInterval, yesterday, today, {});
  EXPECT_EQ(figures().period.incoming, 2000 + 6700);
  EXPECT_EQ(figures().period.outgoing, 200 + 150);
  EXPECT_EQ(figures().period.timeMs, 120000 + figures().day.timeMs);

  engine_.RebuildCounters(RebuildView::kInterval, before, yesterday, {});
  EXPECT_EQ(figures().period.incoming, 2400) << "the logs alone";
  IncomingStep(*session, 1);
  EXPECT_EQ(figures().period.incoming, 2400);

  // Midnight: the session's figures go to the day's log and the day blocks
  // start again; the interval that took today from them reads the log now.
  engine_.RebuildCounters(RebuildView::kInterval, today, today, {});
  ASSERT_EQ(figures().period.incoming, 6701);
  log(today, "ann, ann, 192.168.0.10, 12.07.26, 11:00:00, 0, 5701, 50, 0, 0");
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    ann->dayCounters = CounterBlock{};
    session->counters = CounterBlock{};
  }
  SetLocalTime(LocalSeconds(2026, 12, 8, 0, 0, 5));
  EXPECT_EQ(figures().period.incoming, 6701);
  EXPECT_EQ(figures().period.outgoing, 150);
  IncomingStep(*session, 9);
  EXPECT_EQ(figures().period.incoming, 6701) << "the new day is not in the interval";
}

TEST_F(LocalEngineTest, AMessageThatCouldNotLeaveIsRefusedWithItsReasonAndNotQueued) {
  UserRecord* ann = AddUser("ann");
  ChangeSettings([](SystemSettings& s) { s.SpamServer.clear(); });
  EXPECT_EQ(engine_.UserMessageRefusal(5), MailRefusal::kNoUser);
  EXPECT_EQ(engine_.UserMessageRefusal(0), MailRefusal::kNoAddress);
  ann->reportEmail = "ann@example.test";
  EXPECT_EQ(engine_.UserMessageRefusal(0), MailRefusal::kNoServer);
  ChangeSettings([](SystemSettings& s) { s.SpamServer = "127.0.0.1"; });
  EXPECT_EQ(engine_.UserMessageRefusal(0), MailRefusal::kNoService);
  EXPECT_FALSE(engine_.SendUserMessage(0, "hello"));

  StartReportService();
  EXPECT_EQ(engine_.UserMessageRefusal(0), MailRefusal::kNone);
  EXPECT_TRUE(engine_.SendUserMessage(0, "hello"));
  ChangeSettings([](SystemSettings& s) { s.SpamServer.clear(); });
  EXPECT_EQ(engine_.UserMessageRefusal(0), MailRefusal::kNoServer);
  EXPECT_FALSE(engine_.SendUserMessage(0, "hello")) << "not queued to a sender that has no server";
  StopReportService();
}

}  // namespace
}  // namespace brindlex::testing
