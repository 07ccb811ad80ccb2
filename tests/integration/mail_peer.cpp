#include "tests/integration/mail_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "tests/integration/origin.h"

namespace brindlex::testing {

MailPeer::MailPeer() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brindlex-test-mail-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
}

MailPeer::~MailPeer() {
  Stop();
  RemoveFolder(folder_);
}

bool MailPeer::Start(const std::string& mode, const std::string& greeting, int port) {
  port_ = port != 0 ? port : FreePort();
  std::string script = std::string(BRINDLEX_SOURCE_DIR) + "/tests/integration/mail_peer.py";
  std::string portText = std::to_string(port_);
  std::string log = folder_ + "/received";
  pid_ = ::fork();
  if (pid_ == 0) {
    int out = ::open((folder_ + "/server.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(out, 2);
    // The system's interpreter, which has the packaged server module.
    ::execl("/usr/bin/python3", "python3", script.c_str(), mode.c_str(), portText.c_str(), log.c_str(),
            greeting.empty() ? static_cast<char*>(nullptr) : greeting.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) return false;
  if (WaitForPort(port_)) return true;
  // The server's own account of why it did not come up.
  std::fprintf(stderr, "%s\n", ReadFile(folder_ + "/server.out").c_str());
  return false;
}

void MailPeer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string MailPeer::Log() const { return ReadFile(folder_ + "/received"); }

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
