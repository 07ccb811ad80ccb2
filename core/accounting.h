// Traffic, time and money accounting per user, the limit test, the continuing
// check run on every pass of a connection's worker, and the speed limiter.
//
// Money is an integer: base currency x 1024 x KbPerMb x 1000, so a price per
// megabyte times a byte count stays exact. Counters are 64-bit.
//
// Locks: functions ending in "Locked" expect the accounts lock held; the
// outgoing and incoming steps take it themselves. A UserSession's speedLock is
// taken only around one piece of I/O (TransferGate) and never while waiting
// for the accounts lock.
#pragma once

#include <array>
#include <vector>
#include <cstdint>
#include <functional>
#include <mutex>

#include "core/counters.h"
#include "core/groups.h"
#include "core/sessions.h"

namespace brindlex {

struct UserRecord;
struct ConnectionRecord;

// Bytes in one megabyte: 1024 x KbPerMb.
std::int64_t BytesPerMb();

// --- Sessions -------------------------------------------------------------

// Attaches the connection to the UserSession of (its client address, user),
// creating the session when needed, or, without user, to its SessionRecord's
// unattributed list. Returns the UserSession or nullptr.
UserSession* AttachLocked(ConnectionRecord& connection, UserRecord* user);

// --- Accounting steps -----------------------------------------------------

// Charges the time since the session's stamp (nothing when never stamped).
void TimeStepLocked(UserSession& session, std::int64_t now);
// Charge n bytes sent toward / received from the Internet.
void OutgoingStep(UserSession& session, std::int64_t n);
void IncomingStep(UserSession& session, std::int64_t n);

struct CountedBytes {
  std::int64_t day = 0;
  std::int64_t month = 0;
};
// The bytes that count toward the limits: the group's counted directions,
// plus the CorrectTraffic percentage.
CountedBytes CountedTraffic(const UserRecord& user);
// Traffic as the limits see it: bytes + bytes x percent / 100, truncating,
// saturating at the 64-bit range; without a percent, CorrectTraffic's.
std::int64_t CorrectedTraffic(std::int64_t bytes, int percent);
std::int64_t CorrectedTraffic(std::int64_t bytes);

struct ExceededLimits {
  bool monthTraffic = false;
  bool monthTime = false;
  bool dayTraffic = false;
  bool dayTime = false;
  bool Any() const { return monthTraffic || monthTime || dayTraffic || dayTime; }
  // The refusal code of the last exceeded limit in the order month traffic
  // (487), month time (488), day traffic (489), day time (490); 0 for none.
  int RefusalCode() const;
};
ExceededLimits LimitTest(const UserRecord& user);

// Column of protocolDenied / allowedAfterExceed for a service code; -1 for
// the UDP port mapping, which has none.
int ServiceColumnOf(std::uint8_t service);
// Whether the user's and its group's schedules allow the current local hour.
bool SchedulesAllowNow(const UserRecord& user);

// Once per worker pass: ends the connection (serverFinished, so queued output
// is still delivered) when the user may not go on, or slows the session down
// after an exceeded limit. Nothing for a local or unattributed connection.
// Takes the accounts lock (the caller must not hold it).
void ContinuingCheck(ConnectionRecord& connection);

// --- Speed limiter --------------------------------------------------------

// After `moved` bytes: the budget shrinks; once spent it is refilled with one
// 100 ms period's amount of `speedKb`, and the caller waits until the period
// that began at periodStart has passed.
void SpeedStep(std::int32_t& budget, std::int64_t& periodStart, double speedKb, std::int64_t moved);
// How SpeedStep waits one millisecond; tests replace it to move a fake clock.
void SetSpeedSleep(std::function<void()> sleepOneMillisecond);

// One piece of I/O with the remote side under the speed limits that apply to
// the connection: the session's shared budget and the connection's own cap
// for big transfers. The piece's share of the budget is taken before the I/O
// and settled after it, each under the session's speedLock, so that the lock
// is never held across a socket call: the connections of one user would
// otherwise queue behind each other's I/O.
class TransferGate {
 public:
  explicit TransferGate(ConnectionRecord& connection);
  ~TransferGate();
  TransferGate(const TransferGate&) = delete;
  TransferGate& operator=(const TransferGate&) = delete;
  // How many of `wanted` bytes may move now (at least 1); with a session
  // limit, that many are taken from its budget. Once per gate.
  int Limit(int wanted, bool receiving);
  // What was taken but did not move goes back to the budget unless it was
  // refilled meanwhile; then the speed steps run for the bytes that moved (a
  // spent budget waits for the end of its period).
  void Done(std::int64_t moved);

 private:
  ConnectionRecord& connection_;
  UserSession* session_ = nullptr;
  std::int64_t taken_ = 0;
  std::int64_t takenInPeriod_ = 0;  // the period the share was taken from
  double capSpeed_ = 0;
};

// Counting of one piece: bytes of the connection, speed histories, and, unless
// the connection is local, the accounting step.
void CountReceived(ConnectionRecord& connection, std::int64_t n);
void CountSent(ConnectionRecord& connection, std::int64_t n);

// --- Speed histories and program-wide figures -----------------------------

using SpeedHistory = std::array<std::int32_t, kSpeedHistorySlots>;
SpeedHistory& ProgramSpeedHistory();
// Adds to slot 0 (a slot at -1 starts from 0). Safe from any thread.
void AddToSpeedHistory(SpeedHistory& history, std::int64_t bytes);
// Moves every slot one second back and marks slot 0 "no data". Main thread.
void ShiftSpeedHistory(SpeedHistory& history);
void ClearSpeedHistory(SpeedHistory& history);
// A copy of every slot, read as the workers write them. Any thread.
std::vector<std::int32_t> CopySpeedHistory(SpeedHistory& history);

struct ProgramTraffic {
  std::atomic<std::int64_t> internetBytes{0};  // HTTP from the Internet, not local servers
  std::atomic<std::int64_t> cacheBytes{0};     // served from the disk cache
};
ProgramTraffic& ProgramTrafficCounters();

// --- Day rollover (counter side) ------------------------------------------

// Clears every user's day block, and the month block on the billing day.
void ClearDayCountersLocked(int dayOfMonth);

}  // namespace brindlex
