// A UDP echo server for the port-mapping tests: tests/integration/udp_echo.py
// on a loopback port the kernel picks, in a temporary folder of its own.
#pragma once

#include <sys/types.h>

#include <string>

namespace brindlex::testing {

class UdpEcho {
 public:
  UdpEcho();
  ~UdpEcho();
  UdpEcho(const UdpEcho&) = delete;
  UdpEcho& operator=(const UdpEcho&) = delete;

  // Starts the server and waits until it has told its port.
  bool Start();
  void Stop();
  int port() const { return port_; }

 private:
  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace brindlex::testing
