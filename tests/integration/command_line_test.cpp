// The administrator's arguments of the real executable: usage, version, and
// the configuration check that names each mistake and fails, beside a gateway
// that reports the same problems when it starts.
#include <signal.h>

#include <gtest/gtest.h>
#include <string>

#include "core/groups.h"
#include "core/schedule.h"
#include "core/users.h"
#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

// Runs the executable with these arguments on a program folder; both streams.
std::string Brindlex(const std::string& home, const std::string& arguments, int* exitCode) {
  return RunProgram("BRINDLEX_HOME='" + home + "' '" + BRINDLEX_BINARY + "' " + arguments + " 2>&1", exitCode);
}

class CommandLineTest : public ::testing::Test {
 protected:
  void TearDown() override { RemoveFolder(home_); }
  std::string home_;
};

TEST_F(CommandLineTest, UsageVersionAndAnArgumentNotUnderstood) {
  home_ = MakeProgramFolder("[System]\r\nHttpPort=8080\r\n");
  int rc = -1;
  std::string usage = Brindlex(home_, "--help", &rc);
  EXPECT_NE(usage.find("--check"), std::string::npos);
  EXPECT_NE(usage.find("user add LOGIN"), std::string::npos) << "the accounts commands are listed";
  EXPECT_EQ(rc, 0);
  EXPECT_NE(Brindlex(home_, "--version", &rc).find("Brindlex V"), std::string::npos);
  EXPECT_EQ(rc, 0);
  std::string out = Brindlex(home_, "--frobnicate", &rc);
  EXPECT_EQ(rc, 2);
  EXPECT_NE(out.find("--frobnicate"), std::string::npos) << out;
  EXPECT_NE(out.find("Usage"), std::string::npos) << out;
}

TEST_F(CommandLineTest, CheckNamesEveryBrokenKeyAndExitsOneAndPassesTheShippedFile) {
  home_ = MakeProgramFolder("");
  int rc = -1;
  WriteFile(home_ + "/Brindlex.ini", ReadFile(std::string(BRINDLEX_SOURCE_DIR) + "/data/Brindlex.ini"));
  std::string out = Brindlex(home_, "--check", &rc);
  EXPECT_EQ(rc, 0) << out;

  struct Case {
    std::string file;
    std::string named;  // what the report must say
  } cases[] = {
      {"[System]\r\nHttpPort=abc\r\n", "Brindlex.ini:2: [System] HttpPort: "},
      {"[System]\r\nHttpPort=99999\r\n", "Brindlex.ini:2: [System] HttpPort: "},
      {"[System]\r\nEnableFtp=1\r\nFtpPort=0\r\n", "Brindlex.ini:3: [System] FtpPort: "},
      {"[System]\r\nHttpPrt=3128\r\n", "Brindlex.ini:2: [System] HttpPrt: "},
      {"[System\r\nHttpPort=3128\r\n", "Brindlex.ini:1: [System: "},
      {"[System]\r\nUsersAddrs=192.168.0.0/40\r\n", "Brindlex.ini:2: [System] UsersAddrs: "},
      {"[System]\r\nUsersAddrs=office\r\n", "Brindlex.ini:2: [System] UsersAddrs: "},
      {"[System]\r\nInInterface=eth0\r\n", "Brindlex.ini:2: [System] InInterface: "},
      {"[System]\r\nHttpPort=8080\r\nHTTPPORT=3128\r\n", "Brindlex.ini:3: [System] HTTPPORT: "},
      {"[Users]\r\nivan=secret\r\n", "Brindlex.ini:2: [Users] ivan: "},
      {"[Groups]\r\n00000000=Default\r\n", "Brindlex.ini:2: [Groups] 00000000: "},
      {"[System]\r\nSocks5Port=1080x\r\n", "Brindlex.ini:2: [System] Socks5Port: "},
  };
  for (const Case& c : cases) {
    WriteFile(home_ + "/Brindlex.ini", c.file);
    out = Brindlex(home_, "--check", &rc);
    EXPECT_EQ(rc, 1) << c.file << out;
    EXPECT_NE(out.find(c.named), std::string::npos) << c.file << "\n" << out;
  }
}

TEST_F(CommandLineTest, AGatewayStartingWithAMistakeSaysSo) {
  int port = FreePort();
  home_ = MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(port) + "\r\nEnableHTP=1\r\n");
  GatewayProcess gateway(home_);
  gateway.Start();
  EXPECT_TRUE(gateway.WaitForOutput("Brindlex.ini:3: [System] EnableHTP: ")) << gateway.Output();
  EXPECT_TRUE(gateway.WaitForOutput(HttpOpenLine(port))) << "a mistake is reported, not fatal";
  EXPECT_EQ(gateway.Stop(), 0);
}

TEST_F(CommandLineTest, UsersPastTheTableAreNamedByCheckAtStartAndAtReload) {
  int port = FreePort();
  UserRecord user;
  user.schedule = FullSchedule();
  auto file = [&](int users) {
    std::string text = "[System]\r\nHttpPort=" + std::to_string(port) +
                       "\r\n[Groups]\r\n00000000=" + FormatGroupRecord(MakeDefaultGroup()) + "\r\n[Users]\r\n";
    for (int i = 0; i < users; ++i) {
      user.login = "u" + std::to_string(i);
      user.name = "User " + user.login;
      user.password = "pw" + user.login;
      text += user.login + "=" + FormatUserRecord(user) + "\r\n";
    }
    return text;
  };
  const std::string leftOut = "Brindlex.ini:506: [Users] u500: ";
  home_ = MakeProgramFolder(file(kMaxUsers + 3));
  int rc = -1;
  std::string out = Brindlex(home_, "--check", &rc);
  EXPECT_EQ(rc, 1) << out;
  EXPECT_NE(out.find(leftOut), std::string::npos) << out;
  EXPECT_NE(out.find(" 3 (u500, u501, u502)"), std::string::npos) << out;

  GatewayProcess gateway(home_);
  gateway.Start();
  EXPECT_TRUE(gateway.WaitForOutput(leftOut)) << gateway.Output();
  EXPECT_TRUE(gateway.WaitForOutput(HttpOpenLine(port))) << gateway.Output();
  // Eight more by the next reload: still counted, the first five named.
  WriteFile(home_ + "/Brindlex.ini", file(kMaxUsers + 8));
  gateway.Signal(SIGHUP);
  EXPECT_TRUE(gateway.WaitForOutput(" 8 (u500, u501, u502, u503, u504 и ещё 3)")) << gateway.Output();
  EXPECT_EQ(gateway.Stop(), 0);
}

}  // namespace
}  // namespace brindlex::testing
