#include "tests/integration/mail_sink.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {

MailSink::MailSink() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brindlex-test-mail-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  RunProgram("mkdir -p '" + folder_ + "/mail'");
}

MailSink::~MailSink() {
  Stop();
  RemoveFolder(folder_);
}

bool MailSink::Start() {
  port_ = FreePort();
  std::string script = std::string(BRINDLEX_SOURCE_DIR) + "/tests/integration/mail_sink.py";
  std::string port = std::to_string(port_);
  std::string mail = folder_ + "/mail";
  pid_ = ::fork();
  if (pid_ == 0) {
    int log = ::open((folder_ + "/server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(log, 1);
    ::dup2(log, 2);
    // The system's interpreter, which has the packaged server module.
    ::execl("/usr/bin/python3", "python3", script.c_str(), port.c_str(), mail.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) return false;
  return WaitForPort(port_);
}

void MailSink::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::vector<std::string> MailSink::Messages() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_ + "/mail"))
    if (entry.path().extension() == ".eml") names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  std::vector<std::string> messages;
  for (const std::string& name : names) messages.push_back(ReadFile(name));
  return messages;
}

bool MailSink::WaitForMessages(size_t count, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Messages().size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace brindlex::testing
