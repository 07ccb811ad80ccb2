// The gateway never touches a display: one named in its environment that
// does not exist (a desktop session that ended, a dropped X forwarding)
// changes nothing, and no GUI library is ever loaded into it.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

// The gateway answers on its port: a request line it cannot read gets 400.
bool Answers(int port) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return false;
  SendAll(fd, "NONSENSE\r\n\r\n");
  const std::string answer = ReadUntilClosed(fd, 5s);
  ::close(fd);
  return answer.rfind("HTTP/1.0 400", 0) == 0 || answer.rfind("HTTP/1.1 400", 0) == 0;
}

std::string MappedFiles(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str();
}

TEST(Headless, ADisplayThatDoesNotExistChangesNothingAndTheStopIsQuick) {
  const int port = FreePort();
  const std::string home = MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(port) + "\r\n");
  GatewayProcess gateway(home);
  gateway.Start(":97");
  // The listener's line goes to standard output as with no display at all.
  ASSERT_TRUE(gateway.WaitForOutput(HttpOpenLine(port))) << gateway.Output();
  EXPECT_TRUE(Answers(port)) << gateway.Output();
  const std::string maps = MappedFiles(gateway.pid());
  ASSERT_NE(maps.find("libc.so"), std::string::npos) << "no maps read";
  EXPECT_EQ(maps.find("libQt"), std::string::npos);
  EXPECT_EQ(maps.find("libxcb"), std::string::npos);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(gateway.Stop(SIGTERM), 0) << gateway.Output();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  RemoveFolder(home);
}

}  // namespace
}  // namespace brindlex::testing
