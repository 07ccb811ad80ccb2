#include "core/refusal_monitor.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/connection.h"
#include "core/monitor.h"
#include "core/strings.h"

namespace brindlex {
namespace {

constexpr std::int64_t kSecond = kPerformanceFrequency;

Ipv4 Address(const char* dotted) {
  Ipv4 address = kNoAddress;
  EXPECT_TRUE(ParseDottedQuad(dotted, address)) << dotted;
  return address;
}

std::string Summary(const char* address, int failures) {
  char text[512];
  std::snprintf(text, sizeof(text), StrC(1220), address, std::to_string(failures).c_str());
  return text;
}

TEST(RefusalMonitor, TheLineNamesClientLoginMessageAndUrlWithHostileBytesEscaped) {
  Refusal refusal{kServiceHttp, Address("192.168.0.7"), "bob", "http://example.com/a,b", 493, false};
  EXPECT_EQ(RefusalLine(refusal), "REFUSED, 192.168.0.7, bob, 493, http://example.com/a,b");
  refusal.login = "x,\r\nREFUSED";
  refusal.url = "http://e/\r\nforged";
  EXPECT_EQ(RefusalLine(refusal), "REFUSED, 192.168.0.7, x%2C%0D%0AREFUSED, 493, http://e/%0D%0Aforged");
}

TEST(RefusalMonitor, RefusedAddressesAreCountedApartFromFailedLoginsWithASummaryOfTheirOwn) {
  RefusalLimiter limiter;
  std::vector<std::string> out;
  const Ipv4 a = Address("10.0.0.1");
  limiter.Refused(RepeatedRefusal::kFailedLogin, a, 0, "login", out);
  limiter.Refused(RepeatedRefusal::kAddressRefused, a, 1 * kSecond, "address", out);
  limiter.Refused(RepeatedRefusal::kAddressRefused, a, 2 * kSecond, "address again", out);
  EXPECT_EQ(out, (std::vector<std::string>{"login", "address"}));
  out.clear();
  limiter.Expire(61 * kSecond, out);
  char summary[512];
  std::snprintf(summary, sizeof(summary), StrC(1222), "10.0.0.1", "2");
  EXPECT_EQ(out, std::vector<std::string>{summary}) << "one failed login says all in its own line";
}

TEST(RefusalMonitor, FailedLoginsGiveOneLineThenOneSummaryAMinutePerAddress) {
  RefusalLimiter limiter;
  std::vector<std::string> out;
  const Ipv4 a = Address("10.0.0.1"), b = Address("10.0.0.2");
  limiter.Refused(RepeatedRefusal::kFailedLogin, a, 0, "a1", out);
  limiter.Refused(RepeatedRefusal::kFailedLogin, a, 10 * kSecond, "a2", out);
  limiter.Refused(RepeatedRefusal::kFailedLogin, b, 20 * kSecond, "b1", out);
  limiter.Refused(RepeatedRefusal::kFailedLogin, a, 59 * kSecond, "a3", out);
  EXPECT_EQ(out, (std::vector<std::string>{"a1", "b1"}));

  out.clear();
  limiter.Expire(60 * kSecond - 1, out);
  EXPECT_TRUE(out.empty()) << "the minute of 10.0.0.1 has not ended yet";
  limiter.Expire(60 * kSecond, out);
  EXPECT_EQ(out, std::vector<std::string>{Summary("10.0.0.1", 3)});
  out.clear();
  limiter.Expire(80 * kSecond, out);
  EXPECT_TRUE(out.empty()) << "a minute with a single failure was said in full by its own line";

  // After its minute an address starts afresh with a line of its own.
  limiter.Refused(RepeatedRefusal::kFailedLogin, a, 100 * kSecond, "a4", out);
  limiter.Refused(RepeatedRefusal::kFailedLogin, a, 101 * kSecond, "a5", out);
  // A failure after the minute ended sums it up before its own line.
  limiter.Refused(RepeatedRefusal::kFailedLogin, a, 200 * kSecond, "a6", out);
  EXPECT_EQ(out, (std::vector<std::string>{"a4", Summary("10.0.0.1", 2), "a6"}));
}

TEST(RefusalMonitor, ForgedSourceAddressesCannotGrowTheTableWithoutEnd) {
  RefusalLimiter limiter;
  std::vector<std::string> out;
  const size_t extra = 10;
  for (size_t i = 0; i < RefusalLimiter::kMaxAddresses + extra; ++i)
    limiter.Refused(RepeatedRefusal::kAddressRefused, static_cast<Ipv4>(0x0A000000u + i), 0, "line", out);
  EXPECT_EQ(out.size(), RefusalLimiter::kMaxAddresses);
  EXPECT_EQ(limiter.TakeUntracked(), static_cast<std::int64_t>(extra));
  EXPECT_EQ(limiter.TakeUntracked(), 0) << "counted once";
  // An address already in the table goes on being counted in its minute.
  limiter.Refused(RepeatedRefusal::kAddressRefused, 0x0A000000u, kSecond, "again", out);
  EXPECT_EQ(limiter.TakeUntracked(), 0);
  // Once the minutes have ended, new addresses get their lines again.
  out.clear();
  limiter.Expire(61 * kSecond, out);
  limiter.Refused(RepeatedRefusal::kAddressRefused, 0x0B000001u, 62 * kSecond, "new", out);
  EXPECT_EQ(out.back(), "new");
}

class RefusalQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramClock(&clock_);
    TakeRefusalLines();  // whatever an earlier test left behind
  }
  void TearDown() override {
    clock_.Advance(3600 * kSecond);
    TakeRefusalLines();
    SetMonitorShows(kMonitorHttp, true);
    SetProgramClock(nullptr);
  }
  ManualClock clock_;
};

TEST_F(RefusalQueueTest, ReportedRefusalsComeOutInOrderAndFailedLoginsAreLimited) {
  const Ipv4 client = Address("10.0.0.9");
  for (int i = 0; i < 5; ++i) ReportRefusal({kServiceHttp, client, "guess", "http://e/", 422, true});
  ReportRefusal({kServiceHttp, client, "bob", "http://e/blob", 493, false});
  ReportRefusal({kServiceHttp, client, "bob", "http://e/blob", 493, false});
  EXPECT_EQ(TakeRefusalLines(), (std::vector<std::string>{"REFUSED, 10.0.0.9, guess, 422, http://e/",
                                                          "REFUSED, 10.0.0.9, bob, 493, http://e/blob",
                                                          "REFUSED, 10.0.0.9, bob, 493, http://e/blob"}))
      << "refusals other than failed logins are never held back";
  EXPECT_TRUE(TakeRefusalLines().empty());
  clock_.Advance(30 * kSecond);
  ReportRefusal({kServiceHttp, client, "guess", "http://e/", 422, true});
  EXPECT_TRUE(TakeRefusalLines().empty());
  clock_.Advance(30 * kSecond);
  EXPECT_EQ(TakeRefusalLines(), std::vector<std::string>{Summary("10.0.0.9", 6)});
}

TEST_F(RefusalQueueTest, AFloodStopsQueueingAndTheTakeSaysHowManyWereLeftOut) {
  const Ipv4 client = Address("10.0.0.9");
  for (std::size_t i = 0; i < kMaxQueuedRefusals + 7; ++i)
    ReportRefusal({kServiceHttp, client, "bob", "http://e/" + std::to_string(i), 493, false});
  std::vector<std::string> lines = TakeRefusalLines();
  ASSERT_EQ(lines.size(), kMaxQueuedRefusals + 1);
  EXPECT_EQ(lines.front(), "REFUSED, 10.0.0.9, bob, 493, http://e/0");
  EXPECT_EQ(lines[kMaxQueuedRefusals - 1], "REFUSED, 10.0.0.9, bob, 493, http://e/9999");
  EXPECT_NE(lines.back().find(": 7 "), std::string::npos) << lines.back();
  ReportRefusal({kServiceHttp, client, "bob", "http://e/next", 493, false});
  EXPECT_EQ(TakeRefusalLines(), std::vector<std::string>{"REFUSED, 10.0.0.9, bob, 493, http://e/next"})
      << "the count starts again after each take";
}

TEST_F(RefusalQueueTest, EachLineCarriesItsServicesSwitchAndASummaryNone) {
  const Ipv4 client = Address("10.0.0.9");
  ReportRefusal({kServiceSmtp, client, "bob", "", 493, false});
  Refusal lookup{kServiceHttp, client, "", "", 0, false};
  lookup.dns = true;
  ReportRefusal(lookup);
  ReportAdminRefused(client);
  ReportRefusal({kServiceFtpControl, client, "guess", "ftp://e/", 422, true});
  std::vector<int> switches = {99};
  ASSERT_EQ(TakeRefusalLines(&switches).size(), 4u);
  EXPECT_EQ(switches, (std::vector<int>{kMonitorSmtp, kMonitorDns, kMonitorAlways, kMonitorFtp}));
  ReportRefusal({kServiceFtpControl, client, "guess", "ftp://e/", 422, true});
  ReportRefusal({kServiceHttp, client, "guess", "http://e/", 422, true});
  EXPECT_TRUE(TakeRefusalLines(&switches).empty()) << "the same minute's failures are only counted";
  EXPECT_TRUE(switches.empty());
  clock_.Advance(61 * kSecond);
  ReportRefusal({kServicePop3, Address("10.0.0.8"), "", "", 493, false});
  const std::vector<std::string> lines = TakeRefusalLines(&switches);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], Summary("10.0.0.9", 3));
  EXPECT_EQ(switches, (std::vector<int>{kMonitorPop3, kMonitorAlways}));
}

TEST_F(RefusalQueueTest, AServiceWhoseMonitorSwitchIsOffShowsNothing) {
  SetMonitorShows(kMonitorHttp, false);
  ReportRefusal({kServiceHttp, Address("10.0.0.9"), "", "http://e/", 498, false});
  EXPECT_TRUE(TakeRefusalLines().empty());
}

}  // namespace
}  // namespace brindlex
