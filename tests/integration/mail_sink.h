// A real mail server for the e-mail report tests: aiosmtpd on a free loopback
// port, keeping every message it takes as a file in a temporary folder.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/integration/python_peer.h"

namespace brindlex::testing {

class MailSink {
 public:
  MailSink();

  // Starts the server and waits until it accepts connections.
  bool Start();
  void Stop();
  // The messages taken so far, in order: a few lines naming the greeting
  // and the envelope, then the bytes as received.
  std::vector<std::string> Messages() const;
  // Waits until at least `count` messages arrived.
  bool WaitForMessages(size_t count, std::chrono::milliseconds timeout);

  int port() const { return port_; }

 private:
  PythonPeer peer_{"mail"};
  int port_ = 0;
};

}  // namespace brindlex::testing
