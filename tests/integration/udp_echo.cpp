#include "tests/integration/udp_echo.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/integration/harness.h"

namespace brindlex::testing {

bool UdpEcho::Start() {
  std::string portFile = peer_.folder() + "/port";
  if (!peer_.Run("udp_echo.py", {portFile})) return false;
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

void UdpEcho::Stop() { peer_.Stop(); }

}  // namespace brindlex::testing
