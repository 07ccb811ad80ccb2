// Headless operation: the figures print-out on SIGUSR1 (fed by the counter
// rebuild at start-up) and the settings reload on SIGHUP.
#include <signal.h>

#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/groups.h"
#include "core/log_files.h"
#include "core/strings.h"
#include "core/users.h"
#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

std::string UsersSection() {
  UserRecord bob;
  bob.login = "bob";
  bob.name = "Bob";
  bob.password = "pw";  // an empty one would be reported at every start and reload
  bob.schedule = FullSchedule();
  return "[Groups]\r\n00000000=" + FormatGroupRecord(MakeDefaultGroup()) +
         "\r\n[Users]\r\nbob=" + FormatUserRecord(bob) + "\r\n";
}

TEST(Signals, Sigusr1PrintsTheFiguresRebuiltFromTodaysSessionLog) {
  int http = FreePort();
  std::string home = MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(http) + "\r\n" + UsersSection());
  // Two sessions of today, as an earlier run would have logged them.
  SystemClock clock;
  std::string log = home + "/Logging/" + SessionLogName(clock.LocalNow());
  WriteFile(log,
            "Bob, bob, 10.0.0.5, 01.01.26, 10:00:00, 61000, 2048, 1024, 0, 0\r\n"
            "Bob, bob, 10.0.0.5, 01.01.26, 11:00:00, 1000, 1048576, 0, 0, 0\r\n");
  GatewayProcess gateway(home);
  gateway.Start();
  ASSERT_TRUE(gateway.WaitForOutput("порт=" + std::to_string(http))) << gateway.Output();
  gateway.Signal(SIGUSR1);
  const std::string expected =
      "bob: day time 0:01:02, out 1 (0), in 1026 (1), money 0, national 0; month time 0:01:02, out 1 (0), in 1026 (1)";
  EXPECT_TRUE(gateway.WaitForOutput(expected)) << gateway.Output();

  gateway.Signal(SIGHUP);  // re-reads the file; the figures stay
  ASSERT_TRUE(gateway.WaitForOutput(Str(1230))) << gateway.Output();
  gateway.Signal(SIGUSR1);
  EXPECT_TRUE(gateway.WaitForOutput(Str(1230) + "\n" + expected + ", money 0, national 0\n")) << gateway.Output();
  EXPECT_EQ(gateway.Stop(SIGTERM), 0);
  RemoveFolder(home);
}

}  // namespace
}  // namespace brindlex::testing
