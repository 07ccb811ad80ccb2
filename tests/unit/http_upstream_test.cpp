// The next hop: local-server verdicts, target resolution of dotted hosts,
// the parent proxy's credentials and requests addressed to the gateway.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/connection.h"
#include "core/settings.h"
#include "http/http_head.h"
#include "http/local_server.h"
#include "http/next_hop.h"

namespace brindlex {
namespace {

class Upstream : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = *Settings();
    PublishSettings(SystemSettings{});
  }
  void TearDown() override { PublishSettings(saved_); }
  std::unique_ptr<ConnectionRecord> Record(std::uint8_t service = kServiceHttp, const std::string& url = "") {
    std::unique_ptr<ConnectionRecord> r(NewConnection(service));
    r->url = url;
    return r;
  }
  SystemSettings saved_;
};

TEST(LocalServerVerdict, GatewayNameOrANamePatternMatchingTheNameOrAnAddressPatternTheAddress) {
  const std::vector<std::string> patterns = {"intranet", "*.lan", "10.0.0.?"};
  struct Case {
    const char* host;
    Ipv4 address;
    bool local;
  };
  const Case cases[] = {
      {"Brindlex", kNoAddress, true},
      {"bRiNdLeX", kNoAddress, true},
      {"brindlex.example", kNoAddress, false},
      {"INTRANET", kNoAddress, true},
      {"www.lan", kNoAddress, true},
      {"www.lan", 0x08080808u, true},        // a name pattern names the host
      {"wiki.example", 0x0A000007u, true},   // by the address it resolves to
      {"wiki.example", 0x0A00000Au, false},  // "10.0.0.10" is one character too long
      {"wiki.example", kNoAddress, false},
      {"10.0.0.7", 0x0A000007u, true},
      // Text shaped like a local address leads wherever its name says.
      {"10.0.0.7.evil.example", kNoAddress, false},
      {"10.0.0.7.evil.example", 0xCB007105u, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLocalServer(c.host, c.address, patterns), c.local) << c.host;
  EXPECT_FALSE(IsLocalServer("anything", 0x7F000001u, {}));
  // An address is not a name, whatever a name pattern could take.
  EXPECT_FALSE(IsLocalServer("127.0.0.1", 0x7F000001u, {"*"}));
  EXPECT_FALSE(IsLocalServer("127.0.0.1", 0x7F000001u, {"*.lan", "10.1.2.*"}));
}

TEST_F(Upstream, DottedHostsResolveWithoutLookupAndPortsDefaultByServiceAndScheme) {
  struct Case {
    std::uint8_t service;
    const char* url;
    std::string_view host;
    int presetPort;
    Ipv4 address;
    int port;
  };
  const Case cases[] = {
      {kServiceHttp, "http://10.1.2.3/", "10.1.2.3", 0, 0x0A010203u, 80},
      {kServiceHttp, "FTP://10.1.2.3/", "10.1.2.3", 0, 0x0A010203u, 21},
      {kServiceHttp, "", "10.1.2.3:8080", 0, 0x0A010203u, 8080},
      // A text that is no host (a port that is not one, a NUL that a
      // resolver would stop at) names no server and is looked up nowhere.
      {kServiceHttp, "", "10.1.2.3:0", 0, kNoAddress, 0},
      {kServiceHttp, "", "10.1.2.3:99999", 0, kNoAddress, 0},
      {kServiceHttp, "", "10.1.2.3:80.lan", 0, kNoAddress, 0},
      {kServiceSocks5, "", std::string_view("10.1.2.3\0.lan", 13), 1234, kNoAddress, 0},
      {kServiceFtpControl, "", "10.1.2.3", 0, 0x0A010203u, 21},
      {kServiceSocks5, "", "10.1.2.3", 1234, 0x0A010203u, 1234},
  };
  for (const Case& c : cases) {
    auto r = Record(c.service, c.url);
    r->serverPort = c.presetPort;
    EXPECT_EQ(ResolveTarget(*r, c.host), c.address != kNoAddress) << c.host;
    EXPECT_EQ(r->serverAddress, c.address) << c.host;
    EXPECT_EQ(r->serverPort, c.port) << c.host;
    EXPECT_FALSE(r->localServer) << c.host;
  }
  auto local = Record();
  ChangeSettings([&](SystemSettings& s) { s.LocalHosts = {"10.1.*"}; });
  ResolveTarget(*local, "10.1.2.3:8080");
  EXPECT_TRUE(local->localServer);
  auto gateway = Record();
  ResolveTarget(*gateway, "brindlex");
  EXPECT_TRUE(gateway->localServer);
  EXPECT_EQ(gateway->serverAddress, kNoAddress);
}

TEST_F(Upstream, LoopbackDestinationsAreRefusedUnlessTheSwitchOrAnAddressPatternAllowsThem) {
  for (Ipv4 address : {0x7F000001u, 0x7FFF0001u, 0u}) EXPECT_TRUE(RefusedDestination(address)) << address;
  for (Ipv4 address : {0x0A000001u, 0x80000001u, kNoAddress}) EXPECT_FALSE(RefusedDestination(address)) << address;
  ChangeSettings([&](SystemSettings& s) { s.LocalHosts = {"localhost", "*", "127.0.0.*"}; });
  EXPECT_FALSE(RefusedDestination(0x7F000005u));
  EXPECT_TRUE(RefusedDestination(0x7F000105u)) << "names and '*' alone name no address";
  EXPECT_TRUE(RefusedDestination(0u));
  ChangeSettings([&](SystemSettings& s) { s.EnableLoopbackTargets = true; });
  EXPECT_FALSE(RefusedDestination(0x7F000105u));
  EXPECT_FALSE(RefusedDestination(0u));
}

TEST_F(Upstream, ConnectWithoutAnAddressFailsAndTheParentReplacesTheTarget) {
  auto r = Record();
  EXPECT_EQ(ConnectUpstream(*r), UpstreamResult::kFailed);
  ChangeSettings([&](SystemSettings& s) { s.EnableParentProxy = true; });
  ChangeSettings([&](SystemSettings& s) { s.CascadeIP = 0x7F000001u; });
  ChangeSettings([&](SystemSettings& s) { s.CascadePort = 0; });  // a parent on port 0 cannot be reached
  r->serverAddress = 0x0A000001u;
  r->serverPort = 80;
  EXPECT_EQ(ConnectNextHop(*r), UpstreamResult::kFailed);
  EXPECT_EQ(r->serverAddress, 0x7F000001u);
  EXPECT_EQ(r->serverPort, 0);
}

TEST_F(Upstream, GatewayRequestsByNameOrByOwnAddressOnAnHttpPort) {
  ChangeSettings([&](SystemSettings& s) { s.HttpPort = "8080; 3128"; });
  struct Case {
    const char* host;
    Ipv4 address;
    int port;
    bool gateway;
  };
  const Case cases[] = {
      {"BrindLex", kNoAddress, 0, true},
      {"127.0.0.1:3128", 0x7F000001u, 3128, true},
      {"127.0.0.1:8080", 0x7F000001u, 8080, true},
      {"0.0.0.0:8080", 0, 8080, true},
      {"127.0.0.1:8081", 0x7F000001u, 8081, false},
      {"192.0.2.1:8080", 0xC0000201u, 8080, false},
      {"nowhere:8080", kNoAddress, 8080, false},
  };
  for (const Case& c : cases) {
    auto r = Record();
    r->host = c.host;
    r->serverAddress = c.address;
    r->serverPort = c.port;
    EXPECT_EQ(IsGatewayRequest(*r), c.gateway) << c.host;
  }
}

}  // namespace
}  // namespace brindlex
