#include "tests/integration/python_peer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/integration/harness.h"

namespace brindlex::testing {

PythonPeer::PythonPeer(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brindlex-test-" + name + "-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
}

PythonPeer::~PythonPeer() {
  Stop();
  RemoveFolder(folder_);
}

bool PythonPeer::Run(const std::string& script, const std::vector<std::string>& arguments, const std::string& output) {
  std::string path = std::string(BRINDLEX_SOURCE_DIR) + "/tests/integration/" + script;
  std::vector<std::string> words = {"python3", path};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::string outputPath = folder_ + "/" + output;
  pid_ = ::fork();
  if (pid_ == 0) {
    int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execv("/usr/bin/python3", argv.data());
    ::_exit(127);
  }
  return pid_ > 0;
}

void PythonPeer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string PythonPeer::Read(const std::string& name) const { return ReadFile(folder_ + "/" + name); }

}  // namespace brindlex::testing
