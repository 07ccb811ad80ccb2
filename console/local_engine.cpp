#include "console/local_engine.h"

#include <algorithm>
#include <mutex>

#include "cache/cache_index.h"
#include "cache/cache_store.h"
#include "console/monitor_view.h"
#include "core/accounting.h"
#include "core/clock.h"
#include "core/connection.h"
#include "core/counter_rebuild.h"
#include "core/groups.h"
#include "core/log_files.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/subscriptions.h"
#include "core/users.h"
#include "dialup/dial_up_manager.h"
#include "reports/report_service.h"

namespace brindlex {
namespace {

std::uint64_t HandleOf(const void* record) { return reinterpret_cast<std::uintptr_t>(record); }

ConsoleConnection ConnectionLineLocked(const ConnectionRecord& connection) {
  return {HandleOf(&connection), ServiceLogName(connection), connection.bytesSent, connection.bytesReceived,
          connection.url};
}

// Sets closeRequested on a user's session and everything it carries.
void CloseUserSessionLocked(UserSession& session) {
  session.closeRequested = true;
  for (ConnectionRecord* connection : session.connections) connection->closeRequested = true;
}

void CloseUserSessionsLocked(const UserRecord& user) {
  for (auto& record : SessionListLocked())
    for (auto& session : record->userSessions)
      if (session->user == &user) CloseUserSessionLocked(*session);
}

}  // namespace

LocalEngine::LocalEngine(ApplySettingsFile applySettingsFile) : applySettingsFile_(std::move(applySettingsFile)) {}

void LocalEngine::RebuildInterval(std::int64_t first, std::int64_t last,
                                  const std::function<void(const RebuildProgress&)>& progress) {
  const std::int64_t now = ProgramClock().LocalNow();
  const std::int64_t today = DaysBetween(now, now).front();
  const std::int64_t firstDay = DaysBetween(first, first).front();
  const std::int64_t lastDay = DaysBetween(last, last).front();
  const bool reachesToday = firstDay <= today && today <= lastDay;
  // Today's log is in the day blocks already, with what is not logged yet;
  // the days before come from the logs (none when the interval starts today).
  brindlex::RebuildCounters(RebuildMode::Interval, now, first, reachesToday ? today - 86400 : last, progress);
  if (reachesToday)
    liveInterval_ = IntervalDays{first, last, today};
  else
    liveInterval_.reset();
}

UsersSnapshot LocalEngine::Users() {
  std::lock_guard intervalLock(intervalLock_);
  if (liveInterval_) {
    // The day the interval took from the day blocks is over and in the logs
    // now: read the interval again.
    const std::int64_t now = ProgramClock().LocalNow();
    if (DaysBetween(now, now).front() != liveInterval_->today)
      RebuildInterval(liveInterval_->first, liveInterval_->last, {});
  }
  UsersSnapshot snapshot;
  const auto settings = brindlex::Settings();
  snapshot.trafficOverheadPercent = settings->CorrectTraffic;
  snapshot.bytesPerMb = BytesPerMb();
  snapshot.billingDay = BillingDay(*settings);
  std::lock_guard lock(AccountsLock());
  for (const auto& group : Groups()) snapshot.groups.push_back({group->number, group->name});
  const auto& users = brindlex::Users();
  snapshot.users.reserve(users.size());
  for (std::uint32_t id = 0; id < users.size(); ++id) {
    const UserRecord& user = *users[id];
    ConsoleUser row;
    row.id = id;
    row.groupNumber = user.groupNumber;
    row.name = user.name;
    row.login = user.login;
    row.disabled = user.disabled;
    row.deleted = user.deleted;
    row.hasEmail = !user.reportEmail.empty();  // where a message goes
    row.hasTicket = user.rules.prepaid;
    row.ticketOpen = user.ticket.open;
    const bool ticketLasts = user.ticket.open && SubscriptionTest(user);
    row.ticketActive = ticketLasts;
    row.ticketExhausted = user.ticket.open && !ticketLasts;
    row.ticketNumber = user.ticket.number;
    row.ticketOpenedAt = user.ticket.openedAt;
    row.activeAddresses = user.activeAddresses;
    row.month = user.monthCounters;
    row.day = user.dayCounters;
    row.period = user.periodCounters;
    if (liveInterval_) AddCounters(row.period, user.dayCounters);
    row.ticketUsed = user.ticket.used;
    row.ticketRemaining = Remaining(user);
    const ExceededLimits reached = LimitTest(user);
    row.limits.monthTraffic = reached.monthTraffic;
    row.limits.monthTime = reached.monthTime;
    row.limits.dayTraffic = reached.dayTraffic;
    row.limits.dayTime = reached.dayTime;
    if (user.group != nullptr) {
      row.limits.countsIncoming = user.group->rules.countIncoming;
      row.limits.countsOutgoing = user.group->rules.countOutgoing;
    }
    snapshot.users.push_back(std::move(row));
  }
  return snapshot;
}

void LocalEngine::RebuildCounters(
    RebuildView view, std::int64_t first, std::int64_t last,
    const std::function<void(const std::string&, std::int64_t, std::int64_t, std::int64_t, std::int64_t)>& progress) {
  const auto mode = static_cast<RebuildMode>(view);
  const auto shown = [&](const RebuildProgress& step) {
    if (progress) progress(step.file, step.fileDone, step.fileSize, step.allDone, step.allSize);
  };
  if (mode == RebuildMode::Interval) {
    std::lock_guard intervalLock(intervalLock_);
    RebuildInterval(first, last, shown);
  } else {
    brindlex::RebuildCounters(mode, ProgramClock().LocalNow(), first, last, shown);
  }
  Flags().usersDirty = true;
}

void LocalEngine::CloseUserSessions(std::uint32_t userId) {
  std::lock_guard lock(AccountsLock());
  if (UserRecord* user = UserAt(userId)) CloseUserSessionsLocked(*user);
}

void LocalEngine::ToggleUserDisabled(std::uint32_t userId) {
  UserRecord copy;
  {
    std::lock_guard lock(AccountsLock());
    UserRecord* user = UserAt(userId);
    if (user == nullptr || user->deleted) return;
    CloseUserSessionsLocked(*user);
    user->disabled = !user->disabled;
    copy = *user;
  }
  // The file is written outside the lock: a slow disk must not stall workers.
  WriteUser(copy, SettingsPath());
  Flags().usersDirty = true;
}

std::optional<std::vector<ConsoleAddressSession>> LocalEngine::SessionTree() {
  std::unique_lock lock(AccountsLock(), std::try_to_lock);
  if (!lock.owns_lock()) return std::nullopt;
  const std::int64_t now = ProgramClock().PerformanceCounter();
  std::vector<ConsoleAddressSession> tree;
  for (const auto& record : SessionListLocked()) {
    ConsoleAddressSession address{HandleOf(record.get()), record->address, record->idle, {}, {}};
    for (const auto& session : record->userSessions) {
      ConsoleUserSession line;
      line.handle = HandleOf(session.get());
      if (session->user != nullptr) {
        line.userName = session->user->name;
        line.login = session->user->login;
      }
      line.outgoing = session->counters.outgoing;
      line.incoming = session->counters.incoming;
      if (session->connections.empty() && session->stamp != 0)
        line.idleSeconds = std::max<std::int64_t>(0, (now - session->stamp) / kPerformanceFrequency);
      line.timeSeconds = session->counters.timeMs / 1000 + line.idleSeconds;
      line.closeRequested = session->closeRequested;
      for (const ConnectionRecord* connection : session->connections)
        line.connections.push_back(ConnectionLineLocked(*connection));
      address.userSessions.push_back(std::move(line));
    }
    for (const ConnectionRecord* connection : record->unattributed)
      address.unattributed.push_back(ConnectionLineLocked(*connection));
    tree.push_back(std::move(address));
  }
  return tree;
}

void LocalEngine::CloseTreeLine(TreeLineKind kind, std::uint64_t handle) {
  std::lock_guard lock(AccountsLock());
  // A handle is only trusted once it is found again among the live records:
  // the line may have gone since the tree was drawn.
  switch (kind) {
    case TreeLineKind::kAddress:
      for (auto& record : SessionListLocked()) {
        if (HandleOf(record.get()) != handle) continue;
        record->idle = -1;
        for (auto& session : record->userSessions) CloseUserSessionLocked(*session);
        for (ConnectionRecord* connection : record->unattributed) connection->closeRequested = true;
      }
      break;
    case TreeLineKind::kUserSession:
      for (auto& record : SessionListLocked())
        for (auto& session : record->userSessions)
          if (HandleOf(session.get()) == handle) CloseUserSessionLocked(*session);
      break;
    case TreeLineKind::kConnection:
      for (ConnectionRecord* connection : ConnectionListLocked())
        if (HandleOf(connection) == handle) connection->closeRequested = true;
      break;
  }
  Flags().treeDirty = true;
}

StatusFigures LocalEngine::Status() {
  StatusFigures figures;
  std::lock_guard lock(AccountsLock());
  for (const auto& record : SessionListLocked())
    figures.userSessions += static_cast<std::int64_t>(record->userSessions.size());
  figures.connections = static_cast<std::int64_t>(ConnectionListLocked().size());
  return figures;
}

SpeedSlots LocalEngine::SpeedHistory(SpeedSubject subject, std::uint32_t id) {
  switch (subject) {
    case SpeedSubject::kProgram:
      return CopySpeedHistory(ProgramSpeedHistory());
    case SpeedSubject::kUser: {
      std::lock_guard lock(AccountsLock());
      if (UserRecord* user = UserAt(id)) return CopySpeedHistory(user->speedHistory);
      break;
    }
    case SpeedSubject::kGroup: {
      std::lock_guard lock(AccountsLock());
      for (const auto& group : Groups())
        if (group->number == id) return CopySpeedHistory(group->speedHistory);
      break;
    }
  }
  return SpeedSlots(kSpeedHistorySlots, -1);
}

void LocalEngine::SetMonitorSink(std::function<void(const MonitorEntry& entry)> sink) {
  if (!sink) {
    brindlex::SetMonitorSwitchSink(nullptr);
    return;
  }
  brindlex::SetMonitorSwitchSink([sink = std::move(sink)](const std::string& line, int monitorSwitch) {
    sink(GatewayMonitorEntry(line, monitorSwitch, ProgramClock().LocalNow()));
  });
}

bool LocalEngine::MonitorShows(int monitorSwitch) { return brindlex::MonitorShows(monitorSwitch); }

void LocalEngine::SetMonitorShows(int monitorSwitch, bool shows) { brindlex::SetMonitorShows(monitorSwitch, shows); }

std::vector<ConsoleCacheEntry> LocalEngine::CacheEntries() {
  const std::vector<std::uint8_t> block = SnapshotCacheIndex();
  std::vector<ConsoleCacheEntry> entries;
  for (const CacheListing& listing : ListSnapshot(block.data(), block.size())) {
    if (listing.url.empty()) continue;
    entries.push_back({listing.url, listing.fixed.bodyLength, listing.fixed.dateHeader, listing.fixed.received,
                       listing.fixed.lastUsed, listing.fixed.expires});
  }
  return entries;
}

CacheFigures LocalEngine::Cache() {
  const ProgramTraffic& traffic = ProgramTrafficCounters();
  const CacheCounts counts = CountCacheObjects();
  return {traffic.internetBytes, traffic.cacheBytes, counts.objects, counts.bodyBytes, BytesPerMb()};
}

bool LocalEngine::DeleteCacheEntry(const std::string& url) { return DeleteCacheObject(url); }

std::string LocalEngine::ExportCacheObject(const std::string& url) {
  std::optional<std::uint32_t> objectId;
  {
    std::lock_guard lock(CacheIndexLock());
    if (auto offset = FindCacheRecordLocked(url)) objectId = ReadCacheRecordLocked(*offset).objectId;
  }
  if (!objectId) return {};
  return WriteViewerCopy(url, *objectId).value_or(std::string());
}

void LocalEngine::ResetCacheFigures() { ResetCacheStatistics(); }

std::string LocalEngine::UserReport(std::uint32_t userId) {
  std::string login;
  {
    std::lock_guard lock(AccountsLock());
    const UserRecord* user = UserAt(userId);
    if (user == nullptr) return {};
    login = user->login;
  }
  return CurrentUserReport(login);
}

bool LocalEngine::SendUserMessage(std::uint32_t userId, const std::string& text) {
  // A message that could never leave is refused now, while the administrator
  // is there to hear why, rather than failing later in the sender.
  if (UserMessageRefusal(userId) != MailRefusal::kNone) return false;
  std::string recipient;
  {
    std::lock_guard lock(AccountsLock());
    const UserRecord* user = UserAt(userId);
    if (user == nullptr) return false;
    recipient = user->reportEmail;
  }
  return QueueAdminMessage(recipient, text);
}

MailRefusal LocalEngine::UserMessageRefusal(std::uint32_t userId) {
  {
    std::lock_guard lock(AccountsLock());
    const UserRecord* user = UserAt(userId);
    if (user == nullptr) return MailRefusal::kNoUser;
    if (user->reportEmail.empty()) return MailRefusal::kNoAddress;
  }
  if (Settings()->SpamServer.empty()) return MailRefusal::kNoServer;
  if (!ReportServiceRunning()) return MailRefusal::kNoService;
  return MailRefusal::kNone;
}

DialUpPhoneBook LocalEngine::DialUpEntries() { return brindlex::DialUpEntries(); }

void LocalEngine::SetMailStatusSink(std::function<void(const std::string& text)> sink) {
  SetReportStatusSink(std::move(sink));
}

std::vector<StatisticsRow> LocalEngine::Statistics(const StatisticsQuery& query, const std::function<bool()>& abort) {
  const std::string folder = LoggingFolder();
  return BuildStatisticsFrom(query, [&](const std::string& fileName, const LogLineHandler& onLine) {
    if (abort && abort()) return;
    ReadLogLines(folder + "/" + fileName, kStatisticsLogRules, [&](std::string_view line) {
      if (!abort || !abort()) onLine(line);
    });
  });
}

}  // namespace brindlex
