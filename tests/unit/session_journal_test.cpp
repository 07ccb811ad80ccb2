// The journal of open sessions: what a crash would otherwise lose reaches the
// session logs at the next start, marked as recovered, and is never counted
// twice.
#include "core/session_journal.h"

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <mutex>
#include <string>

#include "app/main_timer.h"
#include "core/counter_rebuild.h"
#include "core/file_io.h"
#include "core/log_files.h"
#include "core/program_folder.h"
#include "tests/unit/account_world.h"

namespace brindlex {
namespace {

constexpr std::int64_t kSecond = kPerformanceFrequency;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

TEST(SessionJournalText, DamagedOrHostileEntriesAreSkipped) {
  std::string good = "Bob, bob, 10.0.0.5, 12.07.26, 09:58:59, 61000, 300, 20, 4, 5";
  struct Case {
    std::string text;
    size_t entries;
  } cases[] = {
      {"07-12-26-Brindlex.lgs|" + good + "\n", 1},
      {"07-12-26-Brindlex.lgs|" + good, 1},  // the last line lost its end in the crash
      {"07-12-26-Brindlex.lgs|" + good + "\n08-12-26-Brindlex.lgs|" + good + "\n", 2},
      {"../../etc/passwd|" + good + "\n", 0},
      {"/tmp/07-12-26-Brindlex.lgs|" + good + "\n", 0},
      {"07-12-26-Brindlex.log|" + good + "\n", 0},  // a connection log is not a session log
      {"ab-12-26-Brindlex.lgs|" + good + "\n", 0},
      {"07-12-26-Brindlex.lgs " + good + "\n", 0},
      {"07-12-26-Brindlex.lgs|\n", 0},
      {"07-12-26-Brindlex.lgs|" + good + "\r\n", 0},
      {"07-12-26-Brindlex.lgs|" + std::string(kMaxJournalLine, 'x') + "\n", 0},
      {std::string("\0\0|\n", 4), 0},
  };
  for (const Case& c : cases) {
    std::vector<JournalEntry> entries = ParseSessionJournal(c.text);
    EXPECT_EQ(entries.size(), c.entries) << c.text.substr(0, 80);
    if (!entries.empty()) {
      EXPECT_EQ(entries[0].logName, "07-12-26-Brindlex.lgs");
      EXPECT_EQ(entries[0].line, good);
    }
  }
}

class SessionJournalTest : public testing::AccountWorld {
 protected:
  void SetUp() override {
    AccountWorld::SetUp();
    group_->sessionTimeout = 60;
    user_ = AddUser("bob");
  }
  void TearDown() override {
    RemoveSessionJournal();
    AccountWorld::TearDown();
  }
  // A connection whose session is stamped and has carried these counters.
  ConnectionRecord* Session(const CounterBlock& counters) {
    ConnectionRecord* c = Connect(user_, "10.0.0.5");
    std::lock_guard<std::mutex> lock(AccountsLock());
    c->userSession->stamp = clock_.counter;
    c->userSession->counters = counters;
    return c;
  }
  // What the counter rebuild makes of the logs, as at the next start.
  CounterBlock Rebuilt() {
    RebuildCounters(RebuildMode::Today, clock_.local);
    std::lock_guard<std::mutex> lock(AccountsLock());
    return user_->dayCounters;
  }
  UserRecord* user_ = nullptr;
};

TEST_F(SessionJournalTest, ACrashLosesNothingTheJournalHeldAndTheLinesSayTheyWereRecovered) {
  ConnectionRecord* c = Session(CounterBlock{61000, 20, 300, 4, 5});
  ASSERT_TRUE(WriteSessionJournal());
  ASSERT_TRUE(Exists(SessionJournalPath()));
  // The process dies here: no session line was written, and the next start
  // begins without sessions.
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    c->userSession = nullptr;
    c->sessionRecord = nullptr;
    SessionListLocked().clear();
  }
  EXPECT_EQ(RecoverSessionJournal(), 1u);
  EXPECT_FALSE(Exists(SessionJournalPath())) << "a journal is replayed once";
  EXPECT_EQ(ReadText(SessionLogPath(clock_.local)),
            "bob, bob, 10.0.0.5, 12.07.26, 11:58:59, 61000, 300, 20, 4, 5, recovered\r\n");
  EXPECT_EQ(Rebuilt(), (CounterBlock{61000, 20, 300, 4, 5})) << "the recovered line counts like any other";
  EXPECT_EQ(RecoverSessionJournal(), 0u);
}

TEST_F(SessionJournalTest, TheTimerWritesItEveryTenSecondsAndALoggedSessionLeavesItAtOnce) {
  ConnectionRecord* c = Session(CounterBlock{});
  MainTimer timer;
  clock_.Advance(1);
  MainTimerTimer(timer);
  for (int second = 1; second < 10; ++second) {
    clock_.Advance(kSecond);
    MainTimerTimer(timer);
  }
  EXPECT_FALSE(Exists(SessionJournalPath())) << "not before ten seconds";
  clock_.Advance(kSecond);
  MainTimerTimer(timer);
  std::string text;
  ASSERT_TRUE(ReadFileBounded(SessionJournalPath(), 1 << 20, text));
  std::vector<JournalEntry> entries = ParseSessionJournal(text);
  ASSERT_EQ(entries.size(), 1u) << text;
  EXPECT_EQ(LogField(entries[0].line, 5), "10000") << "ten seconds charged so far";

  // The session closes: its line goes to the log, and the journal must not
  // still hold it, or a crash now would count those ten seconds twice.
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    c->userSession->connections.clear();
    c->userSession->closeRequested = true;
  }
  clock_.Advance(kSecond);
  MainTimerTimer(timer);
  c->userSession = nullptr;
  text.clear();
  ASSERT_TRUE(ReadFileBounded(SessionJournalPath(), 1 << 20, text));
  EXPECT_EQ(text, "");
  EXPECT_EQ(RecoverSessionJournal(), 0u);
  EXPECT_EQ(Rebuilt().timeMs, 10000) << "counted once, from the session log";
}

TEST_F(SessionJournalTest, MidnightRewritesItSoACrashAfterTheSplitCountsTheDayOnce) {
  const std::int64_t dec7 = LocalSeconds(2026, 12, 7, 12, 0, 0);
  SetLocalTime(LocalSeconds(2026, 12, 7, 23, 59, 57));
  ConnectionRecord* c = Session(CounterBlock{61000, 20, 300, 4, 5});
  MainTimer timer;
  clock_.Advance(1);
  MainTimerTimer(timer);
  clock_.Advance(kSecond);
  MainTimerTimer(timer);  // 23:59:58: the first day check remembers the 7th
  // The journal as a ten-second write left it, holding the 7th's counters.
  ASSERT_TRUE(WriteSessionJournal());
  clock_.Advance(2 * kSecond);
  MainTimerTimer(timer);  // 00:00:00 of the 8th: the session is split, long before the next ten-second write
  ASSERT_EQ(ReadText(SessionLogPath(dec7)).find("bob, bob, 10.0.0.5, 12.07.26, "), 0u)
      << ReadText(SessionLogPath(dec7));

  std::string text;
  ASSERT_TRUE(ReadFileBounded(SessionJournalPath(), 1 << 20, text));
  for (const JournalEntry& entry : ParseSessionJournal(text))
    EXPECT_NE(entry.logName, "07-12-26-Brindlex.lgs") << "the 7th's part is in its log already: " << entry.line;

  // The process dies now; the next start replays the journal.
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    c->userSession = nullptr;
    c->sessionRecord = nullptr;
    SessionListLocked().clear();
  }
  RecoverSessionJournal();
  std::string log7 = ReadText(SessionLogPath(dec7));
  EXPECT_EQ(log7.find("\r\n"), log7.size() - 2) << "one line for the 7th, not a recovered second one: " << log7;
}

}  // namespace
}  // namespace brindlex
