// The mail servers of the mail tests (tests/integration/mail_peer.py) on a
// free loopback port, and a gateway with its mail ports open.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "tests/integration/harness.h"
#include "tests/integration/python_peer.h"

namespace brindlex::testing {

class MailPeer {
 public:
  // Starts the server in `mode` ("smtp", "smtp-stub", "pop3-stub"), with its
  // greeting line when given, on `port` (0: a free one), and waits until it
  // accepts connections.
  bool Start(const std::string& mode, const std::string& greeting = "", int port = 0);
  void Stop();
  // What the server recorded so far.
  std::string Log() const;
  // Waits until the record holds `text`; returns the record.
  std::string WaitForLog(const std::string& text) const;

  int port() const { return port_; }
  // "127.0.0.1:port", the server text of a rule.
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  PythonPeer peer_{"mail"};
  int port_ = 0;
};

// A gateway with SMTP and POP3 on ports of their own.
struct MailGateway {
  MailGateway(const std::string& systemLines, const std::string& extraSections);
  bool started = false;
  int smtpPort = FreePort();
  int pop3Port = FreePort();
  std::unique_ptr<ProxyGateway> gateway;
};

// The stored value of a rule whose SMTP and POP3 servers are these
// ("host:port"), and its [PostRelays] line.
std::string RelayValue(const std::string& smtp, const std::string& pop, bool disabled = false);
std::string RelayLine(const std::string& domain, const std::string& smtp, const std::string& pop,
                      bool disabled = false);

// A server that takes one connection on `listener`, sends `bytes` (perhaps
// less than a line) and closes it; join the thread after the exchange.
std::thread ServerThatCloses(int listener, std::string bytes);

// One line (with its line end) read a byte at a time, so that nothing of the
// next one is taken; empty on time-out or close.
std::string ReadLine(int fd);
// Sends `command` and reads one line.
std::string Ask(int fd, const std::string& command);
// Whether the peer closes the connection (within 5 s) without sending more.
bool ClosesWithoutMore(int fd);

}  // namespace brindlex::testing
