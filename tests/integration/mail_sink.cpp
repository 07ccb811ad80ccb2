#include "tests/integration/mail_sink.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {

MailSink::MailSink() { RunProgram("mkdir -p '" + peer_.folder() + "/mail'"); }

bool MailSink::Start() {
  port_ = FreePort();
  return peer_.Run("mail_sink.py", {std::to_string(port_), peer_.folder() + "/mail"}) && WaitForPort(port_);
}

void MailSink::Stop() { peer_.Stop(); }

std::vector<std::string> MailSink::Messages() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(peer_.folder() + "/mail"))
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
