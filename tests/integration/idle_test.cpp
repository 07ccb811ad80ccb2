// Idle connections end to end: a tunnel that carries nothing lets its worker
// sleep in long waits, yet bytes arriving on either side and the shutdown
// reach it at once.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

using Seconds = std::chrono::duration<double>;

constexpr int kTunnels = 20;
// Long enough for an idle worker to reach its longest wait.
constexpr auto kSettleTime = 3500ms;

// The far end of the tunnels: accepts every connection and holds it.
class HoldingOrigin {
 public:
  HoldingOrigin() {
    listener_ = ListenOnLoopback(kTunnels, port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~HoldingOrigin() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
    for (int fd : accepted_) ::close(fd);
  }
  int port() const { return port_; }
  // The server side of the n-th tunnel (counting from 0), -1 when it never came.
  int Accepted(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, 5s, [&] { return accepted_.size() > n; });
    return accepted_.size() > n ? accepted_[n] : -1;
  }

 private:
  void Serve() {
    while (true) {
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      accepted_.push_back(fd);
      changed_.notify_all();
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> accepted_;
};

// A client connection whose CONNECT to the origin was answered; -1 otherwise.
int OpenTunnel(const ProxyGateway& gateway, int originPort) {
  int fd = ConnectLoopback(gateway.port);
  if (fd < 0) return -1;
  SendAll(fd, "CONNECT 127.0.0.1:" + std::to_string(originPort) + " HTTP/1.1\r\n\r\n");
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos) {
    std::string more = ReadBytes(fd, 1);
    if (more.empty()) break;
    head += more;
  }
  if (head.rfind("HTTP/1.0 200", 0) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

struct Tunnels {
  ~Tunnels() {
    for (int fd : clients) ::close(fd);
  }
  std::vector<int> clients;
};

// Context switches of each thread of a process by thread id: a thread
// sleeping in poll switches once for every wait that ends.
std::map<int, long> ThreadSwitches(pid_t pid) {
  std::map<int, long> switches;
  std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = ::opendir(tasks.c_str());
  if (!dir) return switches;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream status(tasks + "/" + entry->d_name + "/status");
    long total = 0;
    std::string key;
    long value = 0;
    while (status >> key) {
      if ((key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") && status >> value)
        total += value;
    }
    switches[std::stoi(entry->d_name)] = total;
  }
  ::closedir(dir);
  return switches;
}

class IdleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(gateway_.started) << gateway_.process->Output(); }
  void Open(Tunnels& tunnels) {
    for (int i = 0; i < kTunnels; ++i) {
      int fd = OpenTunnel(gateway_, origin_.port());
      ASSERT_GE(fd, 0) << "tunnel " << i;
      tunnels.clients.push_back(fd);
      ASSERT_GE(origin_.Accepted(static_cast<size_t>(i)), 0) << "tunnel " << i;
    }
  }

  HoldingOrigin origin_;
  ProxyGateway gateway_{"LocalHosts=127.0.0.1\r\n"};
};

TEST_F(IdleTest, IdleTunnelsWakeTheirWorkersRarely) {
  std::map<int, long> before = ThreadSwitches(gateway_.process->pid());
  Tunnels tunnels;
  Open(tunnels);
  std::this_thread::sleep_for(1500ms);  // past the short waits after the answer
  // The threads that came with the tunnels are their workers.
  std::map<int, long> start = ThreadSwitches(gateway_.process->pid());
  for (const auto& [tid, count] : before) start.erase(tid);
  ASSERT_EQ(start.size(), static_cast<size_t>(kTunnels));
  const auto window = 3s;
  std::this_thread::sleep_for(window);
  std::map<int, long> end = ThreadSwitches(gateway_.process->pid());
  long wakeUps = 0;
  for (const auto& [tid, count] : start) wakeUps += end.at(tid) - count;
  // With a wait of 100 ms every worker would wake 30 times in the window.
  EXPECT_LT(wakeUps, kTunnels * 3) << "wake-ups of " << kTunnels << " idle workers in 3 s";
}

TEST_F(IdleTest, BytesOnAnIdleTunnelGoThroughAtOnce) {
  Tunnels tunnels;
  Open(tunnels);
  std::this_thread::sleep_for(kSettleTime);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(SendAll(origin_.Accepted(0), "from the server"));
  EXPECT_EQ(ReadBytes(tunnels.clients[0], 15, 2s), "from the server");
  ASSERT_TRUE(SendAll(tunnels.clients[1], "from the client"));
  EXPECT_EQ(ReadBytes(origin_.Accepted(1), 15, 2s), "from the client");
  EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start).count(), 0.5) << "not after the long wait";
}

TEST_F(IdleTest, TheShutdownEndsIdleTunnelsAtOnce) {
  Tunnels tunnels;
  Open(tunnels);
  std::this_thread::sleep_for(kSettleTime);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(gateway_.process->Stop(SIGTERM), 0) << gateway_.process->Output();
  // The tunnels' workers sit in their 3 s wait by now: without the shutdown's
  // wake-up the stop would take until its end. Under ThreadSanitizer a stop
  // with 20 connections takes about a second by itself.
  EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start).count(), 2.0) << "not after the long wait";
  bool closed = false;
  ReadUntilClosed(tunnels.clients[0], 1s, &closed);
  EXPECT_TRUE(closed);
}

}  // namespace
}  // namespace brindlex::testing
