#include "tests/integration/udp_echo.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/integration/harness.h"

namespace brindlex::testing {

UdpEcho::UdpEcho() {
  char pattern[] = "/tmp/brindlex-udp-echo-XXXXXX";
  if (::mkdtemp(pattern)) folder_ = pattern;
}

UdpEcho::~UdpEcho() {
  Stop();
  if (!folder_.empty()) RemoveFolder(folder_);
}

bool UdpEcho::Start() {
  if (folder_.empty()) return false;
  std::string script = std::string(BRINDLEX_SOURCE_DIR) + "/tests/integration/udp_echo.py";
  std::string portFile = folder_ + "/port";
  pid_ = ::fork();
  if (pid_ == 0) {
    ::execl("/usr/bin/python3", "python3", script.c_str(), portFile.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string text = ReadFile(portFile);
    if (!text.empty()) {
      port_ = std::atoi(text.c_str());
      return port_ > 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void UdpEcho::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace brindlex::testing
