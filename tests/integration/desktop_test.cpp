// With a display the console runs beside the engine and takes the monitor's
// lines; BRINDLEX_HEADLESS=1 keeps a display from starting it.
#include <gtest/gtest.h>
#include <thread>

#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

// The gateway answers on its port: a request line it cannot read gets 400.
bool Answers(int port) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int fd = ConnectLoopback(port);
    if (fd >= 0) {
      SendAll(fd, "NONSENSE\r\n\r\n");
      const std::string answer = ReadUntilClosed(fd, 5s);
      ::close(fd);
      return answer.rfind("HTTP/1.0 400", 0) == 0 || answer.rfind("HTTP/1.1 400", 0) == 0;
    }
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

TEST(Desktop, WithADisplayTheConsoleTakesTheMonitorAndTheGatewayServes) {
  const int port = FreePort();
  const std::string home = MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(port) + "\r\n");
  GatewayProcess gateway(home);
  gateway.StartWithDisplay(false);
  EXPECT_TRUE(Answers(port)) << gateway.Output();
  // The listener's line went to the console's monitor, not to the terminal.
  EXPECT_EQ(gateway.Output().find(HttpOpenLine(port)), std::string::npos) << gateway.Output();
  EXPECT_EQ(gateway.Stop(SIGTERM), 0) << gateway.Output();
  RemoveFolder(home);
}

TEST(Desktop, HeadlessWinsOverADisplay) {
  const int port = FreePort();
  const std::string home = MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(port) + "\r\n");
  GatewayProcess gateway(home);
  gateway.StartWithDisplay(true);
  EXPECT_TRUE(gateway.WaitForOutput(HttpOpenLine(port))) << gateway.Output();
  EXPECT_TRUE(Answers(port));
  EXPECT_EQ(gateway.Stop(SIGTERM), 0) << gateway.Output();
  RemoveFolder(home);
}

}  // namespace
}  // namespace brindlex::testing
