#include "app/main_timer.h"

#include <malloc.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "core/accounting.h"
#include "core/clock.h"
#include "core/connection.h"
#include "core/log_files.h"
#include "core/log_writer.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "core/refusal_monitor.h"
#include "core/report_exception.h"
#include "core/session_journal.h"
#include "core/sessions.h"
#include "core/subscriptions.h"
#include "core/users.h"
#include "net/worker_stacks.h"
#include "reports/report_service.h"

namespace brindlex {

namespace {

constexpr std::int64_t kDay = 86400;
constexpr std::int32_t kIdleSecondsBeforeRemoval = 5;

std::int64_t DateOf(std::int64_t localSeconds) { return localSeconds - ((localSeconds % kDay) + kDay) % kDay; }

void Call(const std::function<void()>& hook) {
  if (hook) hook();
}

// Closes the user sessions of one address that have timed out or were asked
// to close, and charges time to those that still have connections.
void SweepUserSessionsLocked(SessionRecord& record, std::int64_t now, std::int64_t secondBase,
                             std::vector<PendingLogLine>& lines) {
  auto& sessions = record.userSessions;
  for (auto& session : sessions) {
    const GroupRecord* group = session->user->group;
    std::int64_t timeout = group ? group->sessionTimeout : 0;
    if (!session->connections.empty()) {
      if (record.idle >= 0) record.idle = 0;
      TimeStepLocked(*session, secondBase);
      continue;
    }
    std::int64_t idleFor = session->stamp == 0 ? timeout : (now - session->stamp) / kPerformanceFrequency;
    if (idleFor >= timeout || session->closeRequested) {
      TakeSessionLineLocked(record, *session, lines);
      auto& addresses = session->user->activeAddresses;
      auto at = std::find(addresses.begin(), addresses.end(), record.address);
      if (at != addresses.end()) addresses.erase(at);
      session.reset();
      Flags().usersDirty = true;
    } else if (idleFor < record.idle) {
      record.idle = static_cast<std::int32_t>(idleFor);
    }
  }
  sessions.erase(std::remove(sessions.begin(), sessions.end(), nullptr), sessions.end());
}

// The sweep over every address; the session lines go to `lines`.
void SessionSweepLocked(std::int64_t whole, std::int64_t now, std::int64_t secondBase,
                        std::vector<PendingLogLine>& lines) {
  auto& list = SessionListLocked();
  for (auto& record : list) {
    SessionRecord& s = *record;
    bool stays = (s.idle >= 0 && s.idle < kIdleSecondsBeforeRemoval) || s.openConnections != 0 ||
                 !s.unattributed.empty() || !s.userSessions.empty();
    if (!stays) {
      record.reset();
      Flags().usersDirty = true;
      continue;
    }
    if (s.idle >= 0) s.idle = s.openConnections != 0 ? 0 : static_cast<std::int32_t>(s.idle + whole);
    SweepUserSessionsLocked(s, now, secondBase, lines);
  }
  list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
}

}  // namespace

size_t SessionSweep(std::int64_t whole, std::int64_t now, std::int64_t secondBase) {
  std::vector<PendingLogLine> lines;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    SessionSweepLocked(whole, now, secondBase, lines);
  }
  WriteLogLines(lines);
  return lines.size();
}

void DayRollover(MainTimer& timer) {
  Clock& clock = ProgramClock();
  std::int64_t nowLocal = clock.LocalNow();
  std::int64_t today = DateOf(nowLocal);
  if (timer.lastCheckedDate < 0 || timer.lastCheckedDate > today) {
    // First check, or the clock was set back: nothing to split or clear.
    timer.lastCheckedDate = today;
    return;
  }
  if (timer.lastCheckedDate == today) return;
  timer.lastCheckedDate = today;
  std::int64_t counter = clock.PerformanceCounter();
  std::vector<PendingLogLine> lines;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    for (auto& record : SessionListLocked())
      for (auto& session : record->userSessions) {
        for (ConnectionRecord* connection : session->connections) {
          connection->endCounter = counter;
          connection->endTime = nowLocal;
          std::int64_t start = 0;
          std::string line = TakeConnectionLineLocked(*connection, start);
          if (!line.empty()) lines.push_back({ConnectionLogPath(start), std::move(line), {}});
          connection->startCounter = counter;
        }
        TakeSessionLineLocked(*record, *session, lines);
      }
  }
  WriteLogLines(lines);
  // The split sessions start again from zero: a journal still holding their
  // counters would count them twice after a crash.
  WriteSessionJournal();
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    ClearDayCountersLocked(LocalTm(nowLocal).tm_mday);
  }
  PurgeOldLogs(nowLocal);
  Call(timer.hooks.rebuildUsersView);
}

void ShiftSpeedHistories() {
  std::lock_guard<std::mutex> lock(AccountsLock());
  for (auto& user : Users())
    if (!user->deleted) ShiftSpeedHistory(user->speedHistory);
  for (auto& group : Groups()) ShiftSpeedHistory(group->speedHistory);
  ShiftSpeedHistory(ProgramSpeedHistory());
}

namespace {

// The work of each whole second that passed (`whole` of them, `now` being
// the counter value of this tick).
void PerSecond(MainTimer& timer, std::int64_t whole, std::int64_t now) {
  timer.stepMarker = 71;
  Call(timer.hooks.perSecondViews);
  timer.stepMarker = 74;
  if (Flags().usersDirty.exchange(false)) Call(timer.hooks.rebuildUsersView);
  Flags().treeDirty = true;
  timer.stepMarker = 76;
  Call(timer.hooks.trayUpkeep);
  timer.stepMarker = 77;
  DayRollover(timer);
  timer.stepMarker = 78;
  ShiftSpeedHistories();
  Call(timer.hooks.repaintSpeedWindows);
  timer.stepMarker = 79;
  bool sessionsLogged = SessionSweep(whole, now, timer.secondBase) > 0;
  // Lines a failing disk refused wait in memory; each second tries them.
  RetryPendingLogLines();
  std::vector<int> switches;
  const std::vector<std::string> refused = TakeRefusalLines(&switches);
  for (std::size_t i = 0; i < refused.size(); ++i) MonitorAppend(refused[i], switches[i]);
  timer.stepMarker = 80;
  // Subscriptions are charged in memory and sessions logged only when they
  // close: every ten seconds both go to disk so a crash loses little. A
  // session just logged leaves the journal at once, or a crash would count
  // it twice.
  timer.secondsSinceTicketSave += static_cast<int>(whole);
  if (timer.secondsSinceTicketSave >= 10) {
    timer.secondsSinceTicketSave = 0;
    SaveAllSubscriptions();
    WriteSessionJournal();
  } else if (sessionsLogged) {
    WriteSessionJournal();
  }
  timer.stepMarker = 81;
  // Each closing connection joins the workers ended before it; the last one
  // of a spell is joined here. When the last connection of a busy spell has
  // gone, the freed records, buffers and worker stacks go back to the system
  // instead of staying cached.
  size_t connections = ConnectionCount();
  bool fellIdle = connections == 0 && timer.connectionsLastSecond > 0;
  ReapWorkers(fellIdle);
  if (fellIdle) malloc_trim(0);
  timer.connectionsLastSecond = connections;
  timer.stepMarker = 82;
  // The outgoing mail and the reports' schedule.
  ReportServiceTick();
}

// A tick fails after this much if it throws and the program goes on (the
// silent abort).
constexpr auto kRetryAfterFailedTick = std::chrono::seconds(1);

std::chrono::nanoseconds MainTimerTick(MainTimer& timer) {
  timer.stepMarker = 3;
  Clock& clock = ProgramClock();
  std::int64_t now = clock.PerformanceCounter();
  if (timer.secondBase == 0) timer.secondBase = now;
  std::int64_t elapsedMs = (now - timer.secondBase) * 1000 / kPerformanceFrequency;
  std::int64_t whole = elapsedMs / 1000;
  if (whole > 0) {
    timer.secondBase += whole * kPerformanceFrequency;
    PerSecond(timer, whole, now);
  }
  timer.stepMarker = 1;
  if (Flags().treeDirty.exchange(false)) Call(timer.hooks.repaintTree);
  std::int64_t untilNextSecond = timer.secondBase + kPerformanceFrequency - clock.PerformanceCounter();
  return std::chrono::nanoseconds(std::max<std::int64_t>(untilNextSecond, 0));
}

}  // namespace

std::chrono::nanoseconds MainTimerTimer(MainTimer& timer) {
  // The report names the step the tick was at; the loop's own catch could
  // only say that some tick failed.
  try {
    return MainTimerTick(timer);
  } catch (...) {
    ReportCurrentException("MainTimer", timer.stepMarker);
  }
  return kRetryAfterFailedTick;
}

}  // namespace brindlex
