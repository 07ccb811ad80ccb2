#include "console/console_target.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace brindlex {
namespace {

TEST(ConsoleTarget, HostsAndPortsAsAdministratorsWriteThem) {
  struct Case {
    const char* text;
    const char* host;
    std::uint16_t port;
  };
  const Case good[] = {
      {"gateway", "gateway", kDefaultAdminPort},
      {"gateway.office.lan:9000", "gateway.office.lan", 9000},
      {"192.168.0.1:1", "192.168.0.1", 1},
      {"[fe80::1]:65535", "fe80::1", 65535},
      {"[::1]", "::1", kDefaultAdminPort},
  };
  for (const Case& c : good) {
    const auto target = ParseRemoteTarget(c.text);
    ASSERT_TRUE(target) << c.text;
    EXPECT_EQ(target->host, c.host) << c.text;
    EXPECT_EQ(target->port, c.port) << c.text;
    EXPECT_TRUE(target->folder.empty());
  }
  EXPECT_EQ(ParseRemoteTarget("[::1]:9470")->Name(), "[::1]:9470");
  EXPECT_EQ(ParseRemoteTarget("gw")->Name(), "gw:9470");
  for (const char* bad : {"", ":9470", "gw:0", "gw:65536", "gw:12a", "gw:+1", "two words", "gw/x", "[::1", "[]:1",
                          "[::1]9470", "[::1]:", "[zz::1]:1", "host\n:1"})
    EXPECT_FALSE(ParseRemoteTarget(bad)) << bad;
  EXPECT_FALSE(ParseRemoteTarget(std::string(254, 'a')));
}

TEST(ConsoleTarget, TheLocalGatewaysFolder) {
  char pattern[] = "/tmp/console-target-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string own = pattern;
  // Nothing beside the console: the installed gateway's folder.
  EXPECT_EQ(LocalGatewayFolder(nullptr, own), kInstalledProgramFolder);
  EXPECT_EQ(LocalGatewayFolder("", own), kInstalledProgramFolder);
  // A program folder laid out by the run script holds both programs.
  std::ofstream(own + "/Brindlex.ini") << "[System]\r\n";
  EXPECT_EQ(LocalGatewayFolder(nullptr, own), own);
  // The environment wins, without its trailing slashes.
  EXPECT_EQ(LocalGatewayFolder("/srv/gw//", own), "/srv/gw");
  std::filesystem::remove_all(own);
}

}  // namespace
}  // namespace brindlex
