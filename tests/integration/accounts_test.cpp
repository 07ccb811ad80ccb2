// Users end to end: identification by login and by address, the access rules
// with their refusal pages, counting and logging of what users fetch, speed
// limits, the continuing check cutting a running download or an idle tunnel,
// and counters that survive a restart.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <thread>

#include "core/clock.h"
#include "core/filter_text.h"
#include "core/groups.h"
#include "core/ini_file.h"
#include "core/log_files.h"
#include "core/users.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

using Seconds = std::chrono::duration<double>;

// The origin listens on loopback, which a counted user may reach only when
// the gateway allows loopback destinations.
const std::string kLoopbackOrigin = "EnableLoopbackTargets=1\r\n";

std::string Bytes(size_t size) {
  std::mt19937 generator(99);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>('a' + generator() % 26);
  return bytes;
}

// Disables the user in the running gateway's file and has it re-read.
void DisableAndReload(const ProxyGateway& gateway, UserRecord user) {
  user.disabled = true;
  ASSERT_TRUE(EditAndReload(gateway, [&](IniDocument& settings) { StoreUser(user, settings); }));
}

class AccountsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(origin_.Start());
    origin_.Serve("page.html", Bytes(1000));
    origin_.Serve("blob.bin", Bytes(150 * 1024));
    origin_.Serve("huge.bin", Bytes(4 * 1024 * 1024));
  }
  std::string Url(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(origin_.port()) + "/" + name;
  }
  static std::string TodaysLog(const ProxyGateway& gateway, bool sessions) {
    std::int64_t now = SystemClock().LocalNow();
    return ReadFile(gateway.home + "/Logging/" + (sessions ? SessionLogName(now) : ConnectionLogName(now)));
  }

  NginxOrigin origin_;
};

TEST_F(AccountsTest, ALoginUserIsCountedAndLoggedAndWrongCredentialsGet407) {
  UserRecord disabled = LoginUser("off", "pw");
  disabled.disabled = true;
  ProxyGateway gateway(kLoopbackOrigin, AccountSections({LoginUser("bob", "pw"), disabled}));
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  int rc = 0;
  EXPECT_EQ(Curl(gateway.Proxy(), Url("page.html"), &rc, "-U bob:pw"), Bytes(1000));
  EXPECT_EQ(Curl(gateway.Proxy(), Url("page.html"), &rc, "-o /dev/null -w '%{http_code}' -U bob:wrong"), "407");
  EXPECT_EQ(Curl(gateway.Proxy(), Url("page.html"), &rc, "-o /dev/null -w '%{http_code}' -U off:pw"), "407")
      << "a disabled user is not identified";
  EXPECT_EQ(gateway.process->Stop(SIGTERM), 0);

  std::string connections = TodaysLog(gateway, false);
  std::string expectedStart = "HTTP, User bob, bob, 127.0.0.1, ";
  ASSERT_EQ(connections.rfind(expectedStart, 0), 0u) << connections;
  EXPECT_EQ(LogField(connections, 6), "127.0.0.1:" + std::to_string(origin_.port()));
  EXPECT_GT(std::stoll(std::string(LogField(connections, 8))), 1000) << "received bytes include the response head";
  EXPECT_EQ(LogField(connections, 10), Url("page.html"));
  EXPECT_EQ(connections.find("off"), std::string::npos);
  std::string sessions = TodaysLog(gateway, true);
  EXPECT_EQ(LogField(sessions, 1), "bob") << "the open session is written at shutdown";
  EXPECT_EQ(LogField(sessions, 6), LogField(connections, 8));
}

TEST_F(AccountsTest, RefusalsCarryTheirMessages) {
  UserRecord limited = LoginUser("limited", "");
  limited.rules.dayMb = 1;
  UserRecord filtered = LoginUser("filtered", "");
  filtered.denyFilter = FormatFilterText(FilterList{true, {FilterEntry{"*blob*", kFilterUrl, 0}}});
  UserRecord mac = LoginUser("127.0.0.1", "001A2B3C4D5E");
  mac.byAddress = true;
  std::string sections = AccountSections({limited, filtered, mac});
  ProxyGateway gateway(kLoopbackOrigin, sections);
  ASSERT_TRUE(gateway.started);
  // Today "limited" already received 2 MB (an earlier run logged it).
  WriteFile(gateway.home + "/Logging/" + SessionLogName(SystemClock().LocalNow()),
            "User limited, limited, 127.0.0.1, 01.01.26, 10:00:00, 1000, 2097152, 0, 0, 0\r\n");
  // The rebuild runs at start-up: restart to pick the log up.
  ASSERT_EQ(gateway.process->Stop(SIGTERM), 0);
  gateway.process = std::make_unique<GatewayProcess>(gateway.home);
  gateway.process->Start();
  ASSERT_TRUE(gateway.process->WaitForOutput(HttpOpenLine(gateway.port)));

  int rc = 0;
  std::string refused = Curl(gateway.Proxy(), Url("page.html"), &rc, "-U limited:x");
  EXPECT_NE(refused.find(InstalledMessage(489)), std::string::npos) << refused;
  refused = Curl(gateway.Proxy(), Url("blob.bin"), &rc, "-U filtered:x");
  EXPECT_NE(refused.find(InstalledMessage(493)), std::string::npos) << refused;
  EXPECT_EQ(Curl(gateway.Proxy(), Url("page.html"), &rc, "-U filtered:x"), Bytes(1000));
  // Loopback has no ARP entry, so a MAC-confirmed address user is not identified.
  EXPECT_EQ(Curl(gateway.Proxy(), Url("page.html"), &rc, "-o /dev/null -w '%{http_code}'"), "407");
  // Each refusal is on the monitor with the user and the message.
  EXPECT_TRUE(gateway.process->WaitForOutput("REFUSED, 127.0.0.1, limited, 489, " + Url("page.html") + "\n"))
      << gateway.process->Output();
  EXPECT_TRUE(gateway.process->WaitForOutput("REFUSED, 127.0.0.1, filtered, 493, " + Url("blob.bin") + "\n"))
      << gateway.process->Output();
  EXPECT_TRUE(gateway.process->WaitForOutput("REFUSED, 127.0.0.1, , 422, " + Url("page.html") + "\n"))
      << gateway.process->Output();
}

TEST_F(AccountsTest, SpeedLimitsHoldAndAnExceededLimitSlowsInsteadOfRefusing) {
  UserRecord limited = LoginUser("slow", "");
  limited.rules.speedNormal = 50;  // KB/s
  UserRecord exceeded = LoginUser("over", "");
  exceeded.rules.dayMb = 0.1;
  exceeded.rules.speedExceeded = 50;
  ProxyGateway gateway(kLoopbackOrigin, AccountSections({limited, exceeded}));
  ASSERT_TRUE(gateway.started);
  int rc = 0;
  for (const char* login : {"slow", "over"}) {
    if (std::string(login) == "over")  // passes its 0.1 MB day limit first
      Curl(gateway.Proxy(), Url("blob.bin"), &rc, "-U over:x");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Curl(gateway.Proxy(), Url("blob.bin"), &rc, std::string("-U ") + login + ":x"), Bytes(150 * 1024));
    double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    double rate = 150.0 / seconds;  // KB/s
    EXPECT_LT(rate, 50 * 1.5) << login << " took " << seconds << " s";
    EXPECT_GT(rate, 50 / 3.0) << login << " took " << seconds << " s";
  }
}

TEST_F(AccountsTest, AUserDisabledWhileDownloadingIsCut) {
  UserRecord user = LoginUser("dave", "");
  user.rules.speedNormal = 200;  // 4 MB take about 20 s: time enough to disable him
  ProxyGateway gateway(kLoopbackOrigin, AccountSections({user}));
  ASSERT_TRUE(gateway.started);
  int rc = 0;
  std::string body;
  std::thread download([&] { body = Curl(gateway.Proxy(), Url("huge.bin"), &rc, "-U dave:x"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(800));  // the download is under way
  DisableAndReload(gateway, user);
  auto start = std::chrono::steady_clock::now();
  download.join();
  EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start).count(), 10);
  EXPECT_NE(rc, 0) << "the transfer ends short";
  EXPECT_LT(body.size(), 4u * 1024 * 1024);
}

TEST_F(AccountsTest, AUserDisabledWhileHisTunnelIdlesIsCutWithinAFewSeconds) {
  UserRecord user = LoginUser("erin", "");
  ProxyGateway gateway(kLoopbackOrigin, AccountSections({user}));
  ASSERT_TRUE(gateway.started);
  int fd = ConnectLoopback(gateway.port);
  ASSERT_GE(fd, 0);
  // "erin:x" in Basic form.
  SendAll(fd, "CONNECT 127.0.0.1:" + std::to_string(origin_.port()) +
                  " HTTP/1.1\r\nProxy-Authorization: Basic ZXJpbjp4\r\n\r\n");
  std::string established;
  while (established.find("\r\n\r\n") == std::string::npos) {
    std::string more = ReadBytes(fd, 1);
    if (more.empty()) break;
    established += more;
  }
  ASSERT_EQ(established.substr(0, 12), "HTTP/1.0 200") << established;
  // Long enough for the idle tunnel's worker to reach its longest wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  DisableAndReload(gateway, user);
  auto start = std::chrono::steady_clock::now();
  bool closed = false;
  ReadUntilClosed(fd, std::chrono::seconds(10), &closed);
  ::close(fd);
  EXPECT_TRUE(closed);
  // The longest idle wait is 3 s; the check that follows it ends the tunnel.
  EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start).count(), 4);
}

TEST_F(AccountsTest, CountersSurviveARestart) {
  ProxyGateway gateway(kLoopbackOrigin, AccountSections({LoginUser("bob", "")}));
  ASSERT_TRUE(gateway.started);
  int rc = 0;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Curl(gateway.Proxy(), Url("blob.bin"), &rc, "-U bob:x"), Bytes(150 * 1024));
  gateway.process->Signal(SIGUSR1);
  ASSERT_TRUE(gateway.process->WaitForOutput("bob: day"));
  std::string before = gateway.process->Output();
  before = before.substr(before.find("bob: day"));
  before = before.substr(0, before.find('\n'));
  EXPECT_NE(before.find(", in 4"), std::string::npos) << before << ": over 450 KB received";
  ASSERT_EQ(gateway.process->Stop(SIGTERM), 0);

  gateway.process = std::make_unique<GatewayProcess>(gateway.home);
  gateway.process->Start();
  ASSERT_TRUE(gateway.process->WaitForOutput(HttpOpenLine(gateway.port)));
  gateway.process->Signal(SIGUSR1);
  EXPECT_TRUE(gateway.process->WaitForOutput(before))
      << "before: " << before << "\nafter: " << gateway.process->Output();
}

// The day's incoming kilobytes of a user, from the SIGUSR1 figures.
long DayIncomingKb(GatewayProcess& process, const std::string& login) {
  size_t seen = process.Output().size();
  process.Signal(SIGUSR1);
  std::string marker = login + ": day ";
  for (int i = 0; i < 100; ++i) {
    std::string output = process.Output();
    size_t at = output.find(marker, seen);
    if (at != std::string::npos && output.find('\n', at) != std::string::npos) {
      size_t in = output.find(", in ", at);
      return std::stol(output.substr(in + 5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return -1;
}

TEST_F(AccountsTest, AKilledGatewayLosesAtMostTenSecondsOfAnOpenSession) {
  UserRecord user = LoginUser("erin", "");
  user.rules.speedNormal = 100;  // KB/s: 4 MB take 40 s, the gateway dies long before
  ProxyGateway gateway(kLoopbackOrigin, AccountSections({user}));
  ASSERT_TRUE(gateway.started);
  int rc = 0;
  std::thread download([&] { Curl(gateway.Proxy(), Url("huge.bin"), &rc, "-U erin:x"); });
  std::this_thread::sleep_for(std::chrono::seconds(12));  // the journal is written every 10 s
  long before = DayIncomingKb(*gateway.process, "erin");
  ::kill(gateway.process->pid(), SIGKILL);
  gateway.process->Stop(SIGKILL);
  download.join();
  ASSERT_GT(before, 1000) << "over 1 MB came in before the kill";

  gateway.process = std::make_unique<GatewayProcess>(gateway.home);
  gateway.process->Start();
  ASSERT_TRUE(gateway.process->WaitForOutput(HttpOpenLine(gateway.port)));
  long after = DayIncomingKb(*gateway.process, "erin");
  EXPECT_LE(after, before);
  EXPECT_GE(after, before - 100 * 11) << "at most ten seconds (and a little) of 100 KB/s lost";
  EXPECT_NE(TodaysLog(gateway, true).find(", recovered\r\n"), std::string::npos) << TodaysLog(gateway, true);
}

}  // namespace
}  // namespace brindlex::testing
