// A UDP echo server for the port-mapping tests: tests/integration/udp_echo.py
// on a loopback port the kernel picks, in a temporary folder of its own.
#pragma once

#include <string>

#include "tests/integration/python_peer.h"

namespace brindlex::testing {

class UdpEcho {
 public:
  // Starts the server and waits until it has told its port.
  bool Start();
  void Stop();
  int port() const { return port_; }

 private:
  PythonPeer peer_{"udp-echo"};
  int port_ = 0;
};

}  // namespace brindlex::testing
