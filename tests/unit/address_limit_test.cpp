// The share of connection records one client address may hold: the test at
// accept against MaxConnectionsPerAddress (at least 1), its REFUSED line with
// message 499, and the minute's summary of its own kind.
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/connection.h"
#include "core/process_state.h"
#include "core/refusal_monitor.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/strings.h"
#include "net/listener.h"

namespace brindlex {
namespace {

void PublishLimit(int limit) {
  SystemSettings settings;
  settings.MaxConnectionsPerAddress = limit;
  PublishSettings(settings);
}

TEST(AddressLimit, AnAddressMayHoldAtMostItsShareAndNeverLessThanOne) {
  SessionRecord session;
  session.address = 0x0A000009;  // 10.0.0.9
  ConnectionRecord* record = NewConnection(kServiceSocks5);
  record->clientAddress = session.address;
  record->sessionRecord = &session;
  TakeRefusalLines();
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    PublishLimit(3);
    session.openConnections = 3;  // this record among them
    EXPECT_FALSE(OverAddressLimitLocked(*record));
    session.openConnections = 4;
    EXPECT_TRUE(OverAddressLimitLocked(*record));
    PublishLimit(0);  // not "no limit": one record
    session.openConnections = 1;
    EXPECT_FALSE(OverAddressLimitLocked(*record));
    session.openConnections = 2;
    EXPECT_TRUE(OverAddressLimitLocked(*record));
    record->sessionRecord = nullptr;  // not admitted: nothing to count
    EXPECT_FALSE(OverAddressLimitLocked(*record));
  }
  std::vector<std::string> lines = TakeRefusalLines();
  ASSERT_EQ(lines.size(), 1u) << "two refusals of one address within a minute";
  EXPECT_EQ(lines[0], "REFUSED, 10.0.0.9, , 499, ");
  PublishSettings(SystemSettings{});
  DeleteConnection(record);
}

TEST(AddressLimit, AMinuteOfRefusalsIsSummedUpApartFromOtherKinds) {
  RefusalLimiter limiter;
  std::vector<std::string> out;
  const Ipv4 a = 0x0A000001;
  limiter.Refused(RepeatedRefusal::kAddressLimit, a, 0, "limit", out);
  limiter.Refused(RepeatedRefusal::kAddressRefused, a, 1, "refused", out);
  limiter.Refused(RepeatedRefusal::kAddressLimit, a, 2, "limit", out);
  limiter.Refused(RepeatedRefusal::kAddressLimit, a, 3, "limit", out);
  EXPECT_EQ(out, (std::vector<std::string>{"limit", "refused"}));
  out.clear();
  limiter.Expire(RefusalLimiter::kMinute, out);
  char summary[512];
  std::snprintf(summary, sizeof(summary), StrC(1223), "10.0.0.1", "3");
  EXPECT_EQ(out, std::vector<std::string>{summary});
}

}  // namespace
}  // namespace brindlex
