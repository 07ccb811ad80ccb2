#include "tests/integration/mail_peer.h"

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "tests/integration/origin.h"

namespace brindlex::testing {

bool MailPeer::Start(const std::string& mode, const std::string& greeting, int port) {
  port_ = port != 0 ? port : FreePort();
  std::vector<std::string> arguments = {mode, std::to_string(port_), peer_.folder() + "/received"};
  if (!greeting.empty()) arguments.push_back(greeting);
  if (!peer_.Run("mail_peer.py", arguments, "server.out")) return false;
  if (WaitForPort(port_)) return true;
  // The server's own account of why it did not come up.
  std::fprintf(stderr, "%s\n", peer_.Read("server.out").c_str());
  return false;
}

void MailPeer::Stop() { peer_.Stop(); }

std::string MailPeer::Log() const { return peer_.Read("received"); }

std::string MailPeer::WaitForLog(const std::string& text) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string log = Log();
  while (log.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    // The server writes its record as each line arrives; nothing to wait on
    // but the file itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    log = Log();
  }
  return log;
}

MailGateway::MailGateway(const std::string& systemLines, const std::string& extraSections) {
  gateway = std::make_unique<ProxyGateway>("EnablePost=1\r\nSmtpPort=" + std::to_string(smtpPort) +
                                               "\r\nPop3Port=" + std::to_string(pop3Port) + "\r\n" + systemLines,
                                           extraSections);
  started = gateway->started &&
            gateway->process->WaitForOutput("'SMTP', порт=" + std::to_string(smtpPort) + "; - Ok") &&
            gateway->process->WaitForOutput("'POP3', порт=" + std::to_string(pop3Port) + "; - Ok");
}

std::string RelayValue(const std::string& smtp, const std::string& pop, bool disabled) {
  auto split = [](const std::string& server) {
    size_t colon = server.rfind(':');
    return server.substr(0, colon) + "; " + server.substr(colon + 1);
  };
  return split(smtp) + "; " + split(pop) + "; " + (disabled ? "1" : "0") + ";";
}

std::string RelayLine(const std::string& domain, const std::string& smtp, const std::string& pop, bool disabled) {
  return domain + "=" + RelayValue(smtp, pop, disabled) + "\r\n";
}

std::thread ServerThatCloses(int listener, std::string bytes) {
  return std::thread([listener, bytes = std::move(bytes)] {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return;
    int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    SendAll(fd, bytes);
    ::close(fd);
  });
}

std::string ReadLine(int fd) {
  std::string line;
  while (line.empty() || line.back() != '\n') {
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    if (::poll(&p, 1, 10000) <= 0 || ::recv(fd, &c, 1, 0) != 1) return {};
    line += c;
  }
  return line;
}

std::string Ask(int fd, const std::string& command) {
  SendAll(fd, command);
  return ReadLine(fd);
}

bool ClosesWithoutMore(int fd) {
  bool closed = false;
  std::string more = ReadUntilClosed(fd, std::chrono::seconds(5), &closed);
  return closed && more.empty();
}

}  // namespace brindlex::testing
