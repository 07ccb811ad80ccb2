// Cost of a monitor line pushed to the administration consoles: with none
// attached, with one that reads, and with one that never reads (its queue
// fills, then lines are only counted). A worker's line goes through Push, so
// Push must stay cheap and never wait for a console. Prints figures; asserts
// nothing about time.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "console/admin_client.h"
#include "console/admin_frame.h"
#include "console/admin_server.h"
#include "console/admin_stream.h"

using namespace brindlex;
using SteadyClock = std::chrono::steady_clock;

namespace {

struct Figures {
  double meanNs = 0;
  double p99Ns = 0;
  double maxNs = 0;
};

Figures TimePushes(AdminServer& server, int lines) {
  const std::string line(120, 'x');
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(lines));
  for (int i = 0; i < lines; ++i) {
    auto start = SteadyClock::now();
    server.Push(AdminPush::kMonitorLine, line);
    times.push_back(std::chrono::duration<double, std::nano>(SteadyClock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  Figures f;
  for (double t : times) f.meanNs += t;
  f.meanNs /= static_cast<double>(times.size());
  f.p99Ns = times[times.size() * 99 / 100];
  f.maxNs = times.back();
  return f;
}

void Print(const char* what, const Figures& f) {
  std::printf("%-34s mean %8.0f ns   p99 %8.0f ns   max %10.0f ns\n", what, f.meanNs, f.p99Ns, f.maxNs);
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 200000;
  std::string folder = (std::filesystem::temp_directory_path() / "brindlex-push-bench-XXXXXX").string();
  if (!::mkdtemp(folder.data())) return 1;
  AdminServerOptions options;
  options.programFolder = folder;
  options.timings.silence = std::chrono::minutes(10);
  options.serve = [](std::uint16_t, std::string_view args, const AdminCallContext&) {
    return std::optional<std::string>(std::string(args));
  };
  AdminServer server;
  std::string error;
  if (!server.Start(options, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("%d monitor lines of 120 bytes each\n", lines);
  Print("no console", TimePushes(server, lines));

  {
    AdminClientOptions clientOptions;
    clientOptions.programFolder = folder;
    clientOptions.maxQueuedPushes = 1000000;
    AdminClient reader(clientOptions);
    reader.WaitUntilUp(std::chrono::seconds(5));
    Print("one console that reads", TimePushes(server, lines));
    std::size_t got = 0;
    reader.DeliverPushes([&](AdminPush, std::string_view) { ++got; });
    std::printf("  lines the console took so far: %zu\n", got);
  }

  int fd = ConnectUnix(AdminSocketPath(folder));
  std::string hello = HelloFrame("");
  if (fd < 0 || ::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) < 0) return 1;
  while (server.ConsoleCount() != 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Print("one console that never reads", TimePushes(server, lines));
  for (const AdminConsoleFigures& f : server.Figures())
    std::printf("  its queue: %zu lines, %zu bytes (largest %zu), %llu lines counted as missed\n", f.queuedLines,
                f.queuedBytes, f.largestQueuedBytes, static_cast<unsigned long long>(f.missedLines));
  ::close(fd);
  server.Stop();
  std::filesystem::remove_all(folder);
  return 0;
}
