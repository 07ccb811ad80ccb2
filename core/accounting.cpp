#include "core/accounting.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "core/clock.h"
#include "core/connection.h"
#include "core/process_state.h"
#include "core/service_counters.h"
#include "core/settings.h"
#include "core/subscriptions.h"
#include "core/users.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

std::function<void()>& SpeedSleep() {
  static std::function<void()> sleep = [] { ::usleep(1000); };
  return sleep;
}

constexpr std::int64_t kPeriod = kPerformanceFrequency / 10;  // 100 ms

// Adds amounts to the blocks a charge reaches: the session's, the user's day
// and month blocks, and the subscription while the user is prepaid.
template <typename Apply>
void ChargeLocked(UserSession& session, Apply apply) {
  UserRecord& user = *session.user;
  apply(session.counters);
  apply(user.dayCounters);
  apply(user.monthCounters);
  if (user.rules.prepaid) apply(user.ticket.used);
}

void ChargeTrafficLocked(UserSession& session, std::int64_t n, bool outgoing) {
  const GroupRecord* group = session.user->group;
  double tariff = group ? (outgoing ? group->tariffOut : group->tariffIn) : 0;
  double rate = group ? group->exchangeRate : 0;
  std::int64_t money = n * SaturatedInt64(tariff * 1000);
  std::int64_t national = SaturatedInt64(static_cast<double>(money) * rate);
  ChargeLocked(session, [&](CounterBlock& block) {
    (outgoing ? block.outgoing : block.incoming) += n;
    block.money += money;
    block.nationalMoney += national;
  });
}

void TrafficStep(UserSession& session, std::int64_t n, bool outgoing) {
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    ChargeTrafficLocked(session, n, outgoing);
  }
  Flags().usersDirty = true;
}

// One piece of a connection's traffic: the speed histories of its user, the
// user's group and the program, and the charge unless the target is local.
// The user's group pointer and counters change under the accounts lock (a
// reload rewrites them), so all of it happens in one hold of that lock.
void CountPiece(ConnectionRecord& connection, std::int64_t n, bool outgoing) {
  if (UserSession* session = connection.userSession) {
    {
      std::lock_guard<std::mutex> lock(AccountsLock());
      UserRecord& user = *session->user;
      AddToSpeedHistory(user.speedHistory, n);
      if (user.group) AddToSpeedHistory(user.group->speedHistory, n);
      if (!connection.localServer) ChargeTrafficLocked(*session, n, outgoing);
    }
    AddToSpeedHistory(ProgramSpeedHistory(), n);
    if (!connection.localServer) Flags().usersDirty = true;
  }
}

void Finish(ConnectionRecord& connection) { connection.serverFinished = true; }

// The limit figures from one view of the settings: the continuing check runs
// on every pass of every worker and takes that view once.
std::int64_t BytesPerMbOf(const SystemSettings& settings) { return 1024LL * settings.KbPerMb; }

CountedBytes CountedTrafficOf(const UserRecord& user, int percent) {
  const GroupRecord* group = user.group;
  bool out = group && group->rules.countOutgoing;
  bool in = group && group->rules.countIncoming;
  auto counted = [&](const CounterBlock& block) {
    return CorrectedTraffic((out ? block.outgoing : 0) + (in ? block.incoming : 0), percent);
  };
  return CountedBytes{counted(user.dayCounters), counted(user.monthCounters)};
}

ExceededLimits LimitTestOf(const UserRecord& user, const SystemSettings& settings) {
  const double mb = static_cast<double>(BytesPerMbOf(settings));
  CountedBytes counted = CountedTrafficOf(user, settings.CorrectTraffic);
  auto minutes = [](std::int64_t ms) { return static_cast<double>(ms / 1000) / 60.0; };
  ExceededLimits result;
  result.monthTraffic = user.rules.monthMb > 0 && static_cast<double>(counted.month) / mb > user.rules.monthMb;
  result.monthTime = user.rules.monthMinutes > 0 && minutes(user.monthCounters.timeMs) > user.rules.monthMinutes;
  result.dayTraffic = user.rules.dayMb > 0 && static_cast<double>(counted.day) / mb > user.rules.dayMb;
  result.dayTime = user.rules.dayMinutes > 0 && minutes(user.dayCounters.timeMs) > user.rules.dayMinutes;
  return result;
}

}  // namespace

std::int64_t BytesPerMb() { return BytesPerMbOf(*Settings()); }

UserSession* AttachLocked(ConnectionRecord& connection, UserRecord* user) {
  SessionRecord* record = connection.sessionRecord;
  if (!record) return nullptr;
  Flags().treeDirty = true;
  if (!user) {
    record->unattributed.push_back(&connection);
    return nullptr;
  }
  UserSession* session = nullptr;
  for (auto& candidate : record->userSessions)
    if (candidate->user == user) session = candidate.get();
  if (!session) {
    record->userSessions.push_back(std::make_unique<UserSession>());
    session = record->userSessions.back().get();
    session->user = user;
    session->speed = user->rules.speedNormal;
    user->activeAddresses.push_back(record->address);
  }
  session->connections.push_back(&connection);
  connection.userSession = session;
  return session;
}

void TimeStepLocked(UserSession& session, std::int64_t now) {
  if (session.stamp == 0) return;
  std::int64_t d = (now - session.stamp) * 1000 / kPerformanceFrequency;
  const GroupRecord* group = session.user->group;
  double tariffHour = group ? group->tariffHour : 0;
  double rate = group ? group->exchangeRate : 0;
  std::int64_t money =
      SaturatedInt64(static_cast<double>(d) * static_cast<double>(BytesPerMb()) * tariffHour / 3600.0);
  std::int64_t national = SaturatedInt64(static_cast<double>(money) * rate);
  ChargeLocked(session, [&](CounterBlock& block) {
    block.timeMs += d;
    block.money += money;
    block.nationalMoney += national;
  });
  session.stamp = now;
  Flags().usersDirty = true;
}

void OutgoingStep(UserSession& session, std::int64_t n) { TrafficStep(session, n, true); }
void IncomingStep(UserSession& session, std::int64_t n) { TrafficStep(session, n, false); }

std::int64_t CorrectedTraffic(std::int64_t bytes, int percent) {
  __int128 value = static_cast<__int128>(bytes) + static_cast<__int128>(bytes) * percent / 100;
  if (value > INT64_MAX) return INT64_MAX;
  if (value < INT64_MIN) return INT64_MIN;
  return static_cast<std::int64_t>(value);
}

std::int64_t CorrectedTraffic(std::int64_t bytes) { return CorrectedTraffic(bytes, Settings()->CorrectTraffic); }

CountedBytes CountedTraffic(const UserRecord& user) { return CountedTrafficOf(user, Settings()->CorrectTraffic); }

int ExceededLimits::RefusalCode() const {
  int code = 0;
  if (monthTraffic) code = 487;
  if (monthTime) code = 488;
  if (dayTraffic) code = 489;
  if (dayTime) code = 490;
  return code;
}

ExceededLimits LimitTest(const UserRecord& user) { return LimitTestOf(user, *Settings()); }

int ServiceColumnOf(std::uint8_t service) {
  switch (service) {
    case kServiceHttp:
    case kServiceHttpFtpData:
      return kColumnHttp;
    case kServiceFtpControl:
    case kServiceFtpData:
      return kColumnFtp;
    case kServiceSmtp:
      return kColumnSmtp;
    case kServicePop3:
      return kColumnPop3;
    case kServiceSocks5:
      return kColumnSocks5;
    case kServicePortMapTcp:
      return kColumnPortMap;
    default:
      return -1;
  }
}

bool SchedulesAllowNow(const UserRecord& user) {
  std::tm now = LocalTm(ProgramClock().LocalNow());
  int day = (now.tm_wday + 6) % 7;  // Monday first
  if (!ScheduleAllows(user.schedule, day, now.tm_hour)) return false;
  return !user.group || ScheduleAllows(user.group->schedule, day, now.tm_hour);
}

void ContinuingCheck(ConnectionRecord& connection) {
  UserSession* session = connection.userSession;
  if (connection.localServer || !session) return;
  // A reload of the accounts or the editor rewrites the user's fields under
  // the accounts lock, so every one of them is read under it here.
  std::lock_guard<std::mutex> lock(AccountsLock());
  const UserRecord& user = *session->user;
  if (user.disabled || user.deleted) return Finish(connection);
  if (!SubscriptionTest(user)) return Finish(connection);
  int column = ServiceColumnOf(connection.service);
  if (column >= 0 && user.rules.allowedAfterExceed[column]) return;
  const auto settings = Settings();
  ExceededLimits exceeded = LimitTestOf(user, *settings);
  const double documentBytes = user.rules.maxDocumentMb * static_cast<double>(BytesPerMbOf(*settings));
  bool overDocument = user.rules.maxDocumentMb > 0 && (static_cast<double>(connection.bytesSent) > documentBytes ||
                                                       static_cast<double>(connection.bytesReceived) > documentBytes);
  if (!SchedulesAllowNow(user) || overDocument) {
    if (!user.rules.finishTransfers) Finish(connection);
    return;
  }
  if (!exceeded.Any()) return;
  if (user.rules.speedExceeded != 0 || user.rules.finishTransfers) {
    session->speed = user.rules.speedExceeded;
    return;
  }
  Finish(connection);
}

void SetSpeedSleep(std::function<void()> sleepOneMillisecond) {
  SpeedSleep() = sleepOneMillisecond ? std::move(sleepOneMillisecond) : [] { ::usleep(1000); };
}

void SpeedStep(std::int32_t& budget, std::int64_t& periodStart, double speedKb, std::int64_t moved) {
  budget = static_cast<std::int32_t>(std::max<std::int64_t>(0, budget - moved));
  if (budget > 0) return;
  budget = std::max<std::int32_t>(1, static_cast<std::int32_t>(speedKb * 1024 * 0.1));
  Clock& clock = ProgramClock();
  std::int64_t now = clock.PerformanceCounter();
  if (periodStart == 0) {
    periodStart = now;
    return;
  }
  while (now - periodStart < kPeriod) {
    SpeedSleep()();
    now = clock.PerformanceCounter();
  }
  periodStart += (now - periodStart) / kPeriod * kPeriod;
}

TransferGate::TransferGate(ConnectionRecord& connection) : connection_(connection) {
  if (connection.localServer || !connection.userSession) return;
  session_ = connection.userSession;
  double bigTransferSpeed = 0, bigTransferMb = 0;
  {
    // Read before the speed lock is taken: a worker never waits for the
    // accounts lock while it holds its session's speed lock.
    std::lock_guard<std::mutex> lock(AccountsLock());
    bigTransferSpeed = session_->user->rules.bigTransferSpeed;
    bigTransferMb = session_->user->rules.bigTransferMb;
  }
  if (session_->speed.load() == 0) session_ = nullptr;
  if (bigTransferSpeed != 0 &&
      static_cast<double>(connection.bytesSent + connection.bytesReceived) / static_cast<double>(BytesPerMb()) >
          bigTransferMb)
    capSpeed_ = bigTransferSpeed;
}

TransferGate::~TransferGate() = default;

int TransferGate::Limit(int wanted, bool receiving) {
  std::int64_t amount = std::max(wanted, 1);
  if (capSpeed_ != 0) {
    std::int64_t cap = receiving ? static_cast<std::int64_t>(capSpeed_ * 1024 * 0.1) : connection_.speedQuantumLeft;
    amount = std::clamp<std::int64_t>(cap, 1, amount);
  }
  if (session_) {
    std::lock_guard<std::mutex> lock(session_->speedLock);
    amount = std::clamp<std::int64_t>(session_->budget, 1, amount);
    session_->budget = static_cast<std::int32_t>(std::max<std::int64_t>(0, session_->budget - amount));
    taken_ = amount;
    takenInPeriod_ = session_->periodStart;
  }
  return static_cast<int>(amount);
}

void TransferGate::Done(std::int64_t moved) {
  moved = std::max<std::int64_t>(moved, 0);
  if (session_) {
    std::lock_guard<std::mutex> lock(session_->speedLock);
    // A refill always moves periodStart on.
    if (session_->periodStart == takenInPeriod_)
      session_->budget =
          static_cast<std::int32_t>(std::min<std::int64_t>(session_->budget + taken_ - moved, INT32_MAX));
    if (moved > 0) SpeedStep(session_->budget, session_->periodStart, session_->speed.load(), 0);
  }
  if (capSpeed_ != 0 && moved > 0)
    SpeedStep(connection_.speedQuantumLeft, connection_.speedPeriodStart, capSpeed_, moved);
}

void CountReceived(ConnectionRecord& connection, std::int64_t n) {
  connection.bytesReceived += n;
  CountUp(ServiceCountersOf(connection.service).bytesToClients, n);
  CountPiece(connection, n, false);
  if (connection.service == kServiceHttp && !connection.localServer) ProgramTrafficCounters().internetBytes += n;
}

void CountSent(ConnectionRecord& connection, std::int64_t n) {
  connection.bytesSent += n;
  CountUp(ServiceCountersOf(connection.service).bytesFromClients, n);
  CountPiece(connection, n, true);
}

SpeedHistory& ProgramSpeedHistory() {
  static SpeedHistory history = [] {
    SpeedHistory h;
    h.fill(-1);
    return h;
  }();
  return history;
}

void AddToSpeedHistory(SpeedHistory& history, std::int64_t bytes) {
  std::atomic_ref<std::int32_t> slot(history[0]);
  std::int32_t current = slot.load(std::memory_order_relaxed);
  std::int32_t next = 0;
  do {
    std::int64_t base = current < 0 ? 0 : current;
    next = static_cast<std::int32_t>(std::min<std::int64_t>(base + bytes, INT32_MAX));
  } while (!slot.compare_exchange_weak(current, next, std::memory_order_relaxed));
}

void ShiftSpeedHistory(SpeedHistory& history) {
  for (size_t i = history.size() - 1; i > 0; --i)
    history[i] = std::atomic_ref<std::int32_t>(history[i - 1]).load(std::memory_order_relaxed);
  std::atomic_ref<std::int32_t>(history[0]).store(-1, std::memory_order_relaxed);
}

void ClearSpeedHistory(SpeedHistory& history) {
  for (auto& slot : history) std::atomic_ref<std::int32_t>(slot).store(-1, std::memory_order_relaxed);
}

std::vector<std::int32_t> CopySpeedHistory(SpeedHistory& history) {
  std::vector<std::int32_t> copy;
  copy.reserve(history.size());
  for (auto& slot : history) copy.push_back(std::atomic_ref<std::int32_t>(slot).load(std::memory_order_relaxed));
  return copy;
}

ProgramTraffic& ProgramTrafficCounters() {
  static ProgramTraffic traffic;
  return traffic;
}

void ClearDayCountersLocked(int dayOfMonth) {
  bool monthStarts = dayOfMonth == BillingDay(*Settings());
  for (auto& user : Users()) {
    user->dayCounters = CounterBlock{};
    if (monthStarts) user->monthCounters = CounterBlock{};
  }
}

}  // namespace brindlex
