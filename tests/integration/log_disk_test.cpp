// A log disk that fills up under the real gateway: its Logging folder is a
// small tmpfs mounted in a mount namespace of its own, which a holder process
// keeps alive and which only the gateway (entered through nsenter) and this
// test (through /proc/PID/root) see. Downloads fill the disk; the gateway
// says so once, keeps the lines it could not write, writes them whole once
// space comes back, and the counters it rebuilds at the next start equal the
// traffic.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/groups.h"
#include "core/log_files.h"
#include "core/users.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

constexpr const char* kFailing = "Не удаётся записать журнал";
constexpr const char* kResumed = "Запись журналов возобновлена";

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// A process that mounts a tmpfs of `kilobytes` on `folder` in a private mount
// namespace and then only sleeps, keeping the namespace for others to enter.
class MountHolder {
 public:
  MountHolder(const std::string& folder, int kilobytes) : folder_(folder) {
    pid_ = ::fork();
    if (pid_ == 0) {
      std::string script = "mount -t tmpfs -o size=" + std::to_string(kilobytes) + "k tmpfs \"$0\" && exec sleep 600";
      ::execlp("unshare", "unshare", "--mount", "--propagation", "private", "sh", "-c", script.c_str(), folder.c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~MountHolder() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  // Whether the tmpfs is mounted; false when the holder died first.
  bool WaitUntilMounted() const {
    for (int i = 0; i < 200; ++i) {
      if (ReadFile("/proc/" + std::to_string(pid_) + "/mountinfo").find(" " + folder_ + " ") != std::string::npos)
        return true;
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }
  // The folder as the namespace sees it.
  std::string Inside(const std::string& name) const {
    return "/proc/" + std::to_string(pid_) + "/root" + folder_ + "/" + name;
  }
  std::vector<std::string> Launcher() const {
    return {"nsenter", "--mount=/proc/" + std::to_string(pid_) + "/ns/mnt", "--"};
  }

 private:
  std::string folder_;
  pid_t pid_ = -1;
};

// Fills the file system of `path` to the last byte; returns the bytes written.
size_t FillUp(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  std::string block(4096, 'f');
  size_t written = 0;
  for (size_t size = block.size(); size > 0; size /= 2) {
    ssize_t n;
    while ((n = ::write(fd, block.data(), size)) > 0) written += static_cast<size_t>(n);
  }
  ::close(fd);
  return written;
}

// The day's figures of a user from SIGUSR1, "" when none came.
std::string FiguresOf(GatewayProcess& process, const std::string& login) {
  size_t seen = process.Output().size();
  process.Signal(SIGUSR1);
  for (int i = 0; i < 100; ++i) {
    std::string output = process.Output().substr(seen);
    size_t at = output.find(login + ": day ");
    if (at != std::string::npos && output.find("; month", at) != std::string::npos)
      return output.substr(at, output.find("; month", at) - at);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "";
}

long Kilobytes(const std::string& figures, const std::string& label) {
  size_t at = figures.find(", " + label + " ");
  return at == std::string::npos ? -1 : std::stol(figures.substr(at + label.size() + 3));
}

TEST(LogDiskTest, AFullLogDiskIsReportedOnceAndItsLinesWrittenWholeWhenSpaceComesBack) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  int found = -1;
  RunProgram("command -v unshare && command -v nsenter", &found);
  if (found != 0) GTEST_SKIP() << "unshare or nsenter missing";

  NginxOrigin origin;
  origin.Serve("file.bin", std::string(20000, 'd'));
  ASSERT_TRUE(origin.Start());
  const std::string url = "http://127.0.0.1:" + std::to_string(origin.port()) + "/file.bin";

  UserRecord user;
  user.login = "bob";
  user.name = "User bob";
  user.schedule = FullSchedule();
  int port = FreePort();
  std::string home =
      MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(port) +
                        "\r\nEnableLoopbackTargets=1\r\n[Groups]\r\n00000000=" + FormatGroupRecord(MakeDefaultGroup()) +
                        "\r\n[Users]\r\nbob=" + FormatUserRecord(user) + "\r\n");
  MountHolder holder(home + "/Logging", 256);
  if (!holder.WaitUntilMounted()) GTEST_SKIP() << "no private mount namespace could be made here";

  auto gateway = std::make_unique<GatewayProcess>(home, holder.Launcher());
  gateway->Start();
  ASSERT_TRUE(gateway->WaitForOutput(HttpOpenLine(port))) << gateway->Output();
  auto download = [&] {
    int rc = -1;
    std::string body = Curl("http://127.0.0.1:" + std::to_string(port), url, &rc, "-U bob:x");
    EXPECT_EQ(body.size(), 20000u);
  };
  download();

  // The disk fills; the downloads go on while their lines wait in memory.
  ASSERT_GT(FillUp(holder.Inside("filler")), 100'000u);
  const int downloads = 60;
  for (int i = 1; i < downloads; ++i) download();
  // Once per episode: one line on the monitor (standard output when
  // headless) and one on standard error.
  EXPECT_TRUE(gateway->WaitForOutput(kFailing)) << gateway->Output();
  EXPECT_EQ(Occurrences(gateway->Output(), kFailing), 2u) << gateway->Output();
  EXPECT_EQ(Occurrences(gateway->Output(), kResumed), 0u);

  // Space comes back: the next retry writes the queue out.
  ASSERT_EQ(::unlink(holder.Inside("filler").c_str()), 0) << errno;
  EXPECT_TRUE(gateway->WaitForOutput(kResumed)) << gateway->Output();
  EXPECT_EQ(Occurrences(gateway->Output(), kFailing), 2u) << gateway->Output();

  // A download's line is written when the gateway has closed its connection,
  // which may come after the client has its body.
  std::string connectionLog = holder.Inside(ConnectionLogName(SystemClock().LocalNow()));
  std::string log;
  for (int waited = 0; waited < 100; ++waited) {
    log = ReadFile(connectionLog);
    if (Occurrences(log, "\r\n") >= static_cast<size_t>(downloads)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(log.ends_with("\r\n")) << log;
  long long received = 0;
  int lines = 0;
  for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2, ++lines) {
    std::string line = log.substr(at, end - at);
    EXPECT_EQ(line.rfind("HTTP, User bob, bob, 127.0.0.1, ", 0), 0u) << "line " << lines << ": " << line;
    EXPECT_EQ(LogField(line, 10), url) << "line " << lines << " cut or glued: " << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    received += std::stoll(std::string(LogField(line, 8)));
  }
  EXPECT_EQ(lines, downloads) << "every download's line is there, in one piece";

  std::string before = FiguresOf(*gateway, "bob");
  ASSERT_EQ(gateway->Stop(SIGTERM), 0) << gateway->Output();
  EXPECT_EQ(Occurrences(gateway->Output(), "Строки журналов потеряны"), 0u) << gateway->Output();

  // The next start rebuilds the counters from the logs on that disk.
  gateway = std::make_unique<GatewayProcess>(home, holder.Launcher());
  gateway->Start();
  ASSERT_TRUE(gateway->WaitForOutput(HttpOpenLine(port))) << gateway->Output();
  std::string after = FiguresOf(*gateway, "bob");
  EXPECT_EQ(Kilobytes(after, "in"), received / 1024) << after;
  EXPECT_EQ(Kilobytes(after, "in"), Kilobytes(before, "in")) << "before: " << before << "\nafter: " << after;
  EXPECT_EQ(Kilobytes(after, "out"), Kilobytes(before, "out")) << "before: " << before << "\nafter: " << after;
  EXPECT_EQ(gateway->Stop(SIGTERM), 0) << gateway->Output();
  RemoveFolder(home);
}

}  // namespace
}  // namespace brindlex::testing
