// The console and the administrator's commands as processes of their own
// beside the running gateway: killing the console changes nothing for the
// users, `brindlex status` reads the gateway's figures over the local socket,
// and a Unix user who is not the gateway's is refused by his credentials even
// where the file modes would let him in.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

// brindlex-console on Qt's offscreen platform, attached to the gateway of `home`.
pid_t StartConsole(const std::string& home) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::setenv("BRINDLEX_HOME", home.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/console-config").c_str(), 1);
    ::execl(BRINDLEX_CONSOLE_BINARY, "brindlex-console", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// `brindlex ARGUMENT` on the program folder, as `uid` when it is not 0:
// its exit code, and what it printed on both streams.
std::pair<int, std::string> RunBrindlex(const std::string& home, const std::string& argument, uid_t uid = 0) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {-1, "pipe failed"};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::dup2(pipeFds[1], 2);
    ::close(pipeFds[0]);
    ::setenv("BRINDLEX_HOME", home.c_str(), 1);
    if (uid != 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(126);
    ::execl(BRINDLEX_BINARY, "brindlex", argument.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  std::string output;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof(buffer))) > 0) output.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(ConsoleProcess, KillingTheConsoleMidTransferLeavesTheTransferAndTheGatewayAlone) {
  NginxOrigin origin;
  constexpr std::size_t kSize = 300 * 1024;  // three seconds at the origin's rate
  origin.extraServerConfig = "location = /steady.bin { limit_rate 100k; }";
  origin.Serve("steady.bin", std::string(kSize, 's'));
  ASSERT_TRUE(origin.Start());
  ProxyGateway gateway("EnableLoopbackTargets=1\r\n", AccountSections({AddressUser("127.0.0.1", "Desk")}));
  ASSERT_TRUE(gateway.started) << gateway.process->Output();

  const pid_t console = StartConsole(gateway.home);
  ASSERT_GT(console, 0);
  ASSERT_TRUE(gateway.process->WaitForOutput("Консоль подключилась", 20s)) << gateway.process->Output();
  auto download = std::async(std::launch::async, [&] {
    int code = -1;
    const std::string body =
        Curl(gateway.Proxy(), "http://127.0.0.1:" + std::to_string(origin.port()) + "/steady.bin", &code);
    return std::make_pair(code, body.size());
  });
  std::this_thread::sleep_for(500ms);
  ::kill(console, SIGKILL);
  ::waitpid(console, nullptr, 0);
  EXPECT_TRUE(gateway.process->WaitForOutput("Консоль отключилась", 20s)) << gateway.process->Output();

  const auto [code, bytes] = download.get();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(bytes, kSize);
  // The gateway serves on and ends as usual.
  int again = -1;
  EXPECT_EQ(Curl(gateway.Proxy(), "http://127.0.0.1:" + std::to_string(origin.port()) + "/steady.bin", &again,
                 "--max-time 20 -r 0-99")
                .size(),
            100u);
  EXPECT_EQ(again, 0);
  EXPECT_EQ(gateway.process->Stop(SIGTERM), 0) << gateway.process->Output();
}

TEST(ConsoleProcess, StatusReadsTheFiguresAndRefusesAnotherUserByHisCredentials) {
  ProxyGateway gateway("");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  ASSERT_TRUE(gateway.process->WaitForOutput(HttpOpenLine(gateway.port))) << gateway.process->Output();

  const auto [code, text] = RunBrindlex(gateway.home, "status");
  EXPECT_EQ(code, 0) << text;
  EXPECT_NE(text.find(std::to_string(gateway.port)), std::string::npos) << text;

  // The folder and the socket open to everybody: only the credentials stand
  // in the way.
  ASSERT_EQ(::chmod(gateway.home.c_str(), 0755), 0);
  ASSERT_EQ(::chmod((gateway.home + "/brindlex.sock").c_str(), 0666), 0);
  const auto [strangerCode, strangerText] = RunBrindlex(gateway.home, "status", 65534);
  EXPECT_EQ(strangerCode, 3) << strangerText;
  EXPECT_NE(strangerText.find("не разрешено управлять шлюзом"), std::string::npos) << strangerText;
  EXPECT_TRUE(gateway.process->WaitForOutput("REFUSED, 127.0.0.1, nobody")) << gateway.process->Output();

  EXPECT_EQ(gateway.process->Stop(SIGTERM), 0) << gateway.process->Output();
  // No gateway: status says so.
  const auto [stoppedCode, stoppedText] = RunBrindlex(gateway.home, "status");
  EXPECT_EQ(stoppedCode, 3) << stoppedText;
  EXPECT_NE(stoppedText.find("не запущен"), std::string::npos) << stoppedText;
}

}  // namespace
}  // namespace brindlex::testing
