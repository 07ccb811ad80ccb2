// What keeps the forwarder from serving strangers and from asking itself: the
// gateway's own addresses, the check that names a DnsServer among them, and
// the refusal lines of DNS queries under the monitor's DNS switch.
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/config_check.h"
#include "core/monitor.h"
#include "core/own_address.h"
#include "core/refusal_monitor.h"
#include "core/strings.h"

namespace brindlex {
namespace {

constexpr std::int64_t kSecond = kPerformanceFrequency;

std::string Text(int id, const char* what) {
  char text[512];
  std::snprintf(text, sizeof(text), StrC(id), what);
  return text;
}

TEST(DnsOwnAddress, ZeroTheLoopbackNetAndTheInterfacesAreTheGatewaysOwn) {
  const std::vector<Ipv4> interfaces{ParseIpv4("192.168.0.1"), ParseIpv4("10.0.0.1")};
  EXPECT_TRUE(IsOwnAddress(0, interfaces));
  EXPECT_TRUE(IsOwnAddress(ParseIpv4("127.0.0.1"), {}));
  EXPECT_TRUE(IsOwnAddress(ParseIpv4("127.255.0.53"), {}));
  EXPECT_TRUE(IsOwnAddress(ParseIpv4("10.0.0.1"), interfaces));
  EXPECT_FALSE(IsOwnAddress(ParseIpv4("10.0.0.2"), interfaces));
  EXPECT_FALSE(IsOwnAddress(ParseIpv4("128.0.0.1"), interfaces));
  EXPECT_FALSE(IsOwnAddress(ParseIpv4("126.255.255.255"), interfaces));
  // Whatever the machine's interfaces are now, each is its own.
  for (Ipv4 address : InterfaceAddresses()) EXPECT_TRUE(IsOwnAddress(address)) << FormatIpv4(address);
}

TEST(DnsServerCheck, AServerThatIsTheGatewayItselfAndAnItemThatIsNoAddressAreNamed) {
  std::vector<ConfigProblem> problems =
      CheckConfiguration("[System]\r\nDnsServer=192.0.2.53; 127.0.0.1;0.0.0.0; dns.example; \r\n");
  ASSERT_EQ(problems.size(), 3u);
  for (const ConfigProblem& problem : problems) {
    EXPECT_EQ(problem.line, 2);
    EXPECT_EQ(problem.key, "DnsServer");
  }
  EXPECT_EQ(problems[0].message, Text(1248, "127.0.0.1"));
  EXPECT_EQ(problems[1].message, Text(1248, "0.0.0.0"));
  EXPECT_EQ(problems[2].message, Text(1212, "dns.example"));
  EXPECT_TRUE(CheckConfiguration("[System]\r\nDnsServer=192.0.2.53;198.51.100.53\r\nEnableDns=1\r\n").empty());
  EXPECT_TRUE(CheckConfiguration("[System]\r\nDnsServer=\r\n").empty());
}

class DnsRefusalLines : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramClock(&clock_);
    TakeRefusalLines();  // whatever an earlier test left behind
  }
  void TearDown() override {
    clock_.Advance(3600 * kSecond);
    TakeRefusalLines();
    SetMonitorShows(kMonitorHttp, true);
    SetMonitorShows(kMonitorDns, true);
    SetProgramClock(nullptr);
  }
  ManualClock clock_;
};

TEST_F(DnsRefusalLines, OneLineAMinutePerAddressUnderTheDnsSwitch) {
  for (int i = 0; i < 3; ++i) ReportDnsAddressRefused(ParseIpv4("203.0.113.7"));
  EXPECT_EQ(TakeRefusalLines(), std::vector<std::string>{"REFUSED, 203.0.113.7, , 0, "});
  clock_.Advance(10 * kSecond);
  ReportDnsAddressRefused(ParseIpv4("203.0.113.7"));
  EXPECT_TRUE(TakeRefusalLines().empty());
  // The DNS switch decides, not the HTTP one.
  SetMonitorShows(kMonitorDns, false);
  ReportDnsAddressRefused(ParseIpv4("203.0.113.8"));
  EXPECT_TRUE(TakeRefusalLines().empty());
  SetMonitorShows(kMonitorDns, true);
  SetMonitorShows(kMonitorHttp, false);
  ReportDnsAddressRefused(ParseIpv4("203.0.113.9"));
  EXPECT_EQ(TakeRefusalLines(), std::vector<std::string>{"REFUSED, 203.0.113.9, , 0, "});
}

}  // namespace
}  // namespace brindlex
