// SIGHUP applies the whole settings file to the running gateway: users added
// and removed (a removed user's download ends), the global filters, a System
// key, and HttpPort, whose change moves the listener while a transfer on the
// old port goes on to its end.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "core/filter_text.h"
#include "core/ini_file.h"
#include "core/strings.h"
#include "core/users.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

using Seconds = std::chrono::duration<double>;

// Downloads run on a std::jthread, so that a failed assertion, which returns
// at once, still joins them.

class ReloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    origin_.Serve("page.html", RandomBytes(1000));
    origin_.Serve("blob.bin", RandomBytes(150 * 1024));
    origin_.Serve("mid.bin", RandomBytes(300 * 1024));
    origin_.Serve("huge.bin", RandomBytes(4 * 1024 * 1024));
    ASSERT_TRUE(origin_.Start());
  }
  std::string Url(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(origin_.port()) + "/" + name;
  }
  // The HTTP status curl got (000 when the gateway closed without a reply).
  static std::string Status(const std::string& proxy, const std::string& url, const std::string& credentials) {
    int rc = 0;
    return Curl(proxy, url, &rc, "-o /dev/null -w '%{http_code}' -U " + credentials);
  }

  NginxOrigin origin_;
};

TEST_F(ReloadTest, AUserAddedToTheFileCanFetchAfterSighup) {
  ProxyGateway gateway("EnableLoopbackTargets=1\r\n", AccountSections({LoginUser("bob", "pw")}));
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  EXPECT_EQ(Status(gateway.Proxy(), Url("page.html"), "nina:pw"), "407");

  ASSERT_TRUE(EditAndReload(gateway, [](IniDocument& settings) { StoreUser(LoginUser("nina", "pw"), settings); }));
  int rc = 0;
  EXPECT_EQ(Curl(gateway.Proxy(), Url("page.html"), &rc, "-U nina:pw"), RandomBytes(1000));
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Curl(gateway.Proxy(), Url("page.html"), &rc, "-U bob:pw"), RandomBytes(1000)) << "bob stays";
}

TEST_F(ReloadTest, ARemovedUserIsRefusedAndHisRunningDownloadEnds) {
  UserRecord dave = LoginUser("dave", "pw");
  dave.rules.speedNormal = 200;  // KB/s: 4 MB take about 20 s
  ProxyGateway gateway("EnableLoopbackTargets=1\r\n", AccountSections({dave, LoginUser("bob", "pw")}));
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  int rc = 0;
  std::string body;
  std::jthread download([&] { body = Curl(gateway.Proxy(), Url("huge.bin"), &rc, "-U dave:pw"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(800));  // the download is under way

  ASSERT_TRUE(EditAndReload(gateway, [](IniDocument& settings) { RemoveKey(settings, "Users", "dave"); }));
  auto start = std::chrono::steady_clock::now();
  download.join();
  EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start).count(), 10);
  EXPECT_NE(rc, 0) << "the transfer ends short";
  EXPECT_LT(body.size(), 4u * 1024 * 1024);
  EXPECT_EQ(Status(gateway.Proxy(), Url("page.html"), "dave:pw"), "407");
  EXPECT_EQ(Status(gateway.Proxy(), Url("page.html"), "bob:pw"), "200");
}

TEST_F(ReloadTest, AChangedHttpPortMovesTheListenerWhileTheOldPortsTransferFinishes) {
  UserRecord slow = LoginUser("slow", "pw");
  slow.rules.speedNormal = 40;  // KB/s: 300 KB take about 7 s, time enough to move the port
  ProxyGateway gateway("EnableLoopbackTargets=1\r\n", AccountSections({slow, LoginUser("bob", "pw")}));
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  const std::string oldProxy = gateway.Proxy();
  int rc = -1;
  std::string body;
  std::jthread download([&] { body = Curl(oldProxy, Url("mid.bin"), &rc, "-U slow:pw"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(800));  // the download is under way

  const int newPort = FreePort();
  ASSERT_TRUE(EditAndReload(
      gateway, [&](IniDocument& settings) { SetValue(settings, "System", "HttpPort", std::to_string(newPort)); }));
  ASSERT_TRUE(gateway.process->WaitForOutput(HttpOpenLine(newPort))) << gateway.process->Output();
  const std::string newProxy = "http://127.0.0.1:" + std::to_string(newPort);
  EXPECT_EQ(Status(newProxy, Url("page.html"), "bob:pw"), "200");
  int refused = ConnectLoopback(gateway.port);
  EXPECT_LT(refused, 0) << "the old port no longer accepts";
  if (refused >= 0) ::close(refused);

  download.join();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(body, RandomBytes(300 * 1024)) << "the connection on the old port finished its transfer";
}

TEST_F(ReloadTest, SystemKeysAndGlobalFiltersTakeEffectButKbPerMbWaitsForARestart) {
  ProxyGateway gateway("EnableLoopbackTargets=1\r\n", AccountSections({LoginUser("bob", "pw")}));
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  EXPECT_EQ(Status(gateway.Proxy(), Url("blob.bin"), "bob:pw"), "200");

  ASSERT_TRUE(EditAndReload(gateway, [](IniDocument& settings) {
    SetValue(settings, "Filters", "Global", FormatFilterText(FilterList{true, {FilterEntry{"*blob*", kFilterUrl, 0}}}));
    SetValue(settings, "System", "KbPerMb", "1000");
  }));
  int rc = 0;
  std::string refused = Curl(gateway.Proxy(), Url("blob.bin"), &rc, "-U bob:pw");
  EXPECT_NE(refused.find(InstalledMessage(493)), std::string::npos) << refused;
  EXPECT_EQ(Status(gateway.Proxy(), Url("page.html"), "bob:pw"), "200");
  char kept[512];
  std::snprintf(kept, sizeof(kept), StrC(1231), "KbPerMb");
  EXPECT_NE(gateway.process->Output().find(kept), std::string::npos) << gateway.process->Output();

  // Clients outside the address list are closed without a byte.
  ASSERT_TRUE(EditAndReload(
      gateway, [](IniDocument& settings) { SetValue(settings, "System", "UsersAddrs", "10.0.0.1-10.0.0.9"); }));
  EXPECT_EQ(Status(gateway.Proxy(), Url("page.html"), "bob:pw"), "000");
}

}  // namespace
}  // namespace brindlex::testing
