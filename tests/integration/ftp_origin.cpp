#include "tests/integration/ftp_origin.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {

FtpOrigin::FtpOrigin() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brindlex-test-ftp-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  MakeFolder("");
}

FtpOrigin::~FtpOrigin() {
  Stop();
  RemoveFolder(folder_);
}

void FtpOrigin::Serve(const std::string& name, const std::string& bytes) {
  WriteFile(folder_ + "/root/" + name, bytes);
}

void FtpOrigin::MakeFolder(const std::string& name) { RunProgram("mkdir -p '" + folder_ + "/root/" + name + "'"); }

std::string FtpOrigin::Log() const { return ReadFile(folder_ + "/server.log"); }

bool FtpOrigin::Start(Passive passive) {
  port_ = FreePort();
  std::string script = std::string(BRINDLEX_SOURCE_DIR) + "/tests/integration/ftp_server.py";
  std::string port = std::to_string(port_);
  std::string root = folder_ + "/root";
  const char* flag = passive == Passive::kRefused ? "no-pasv" : passive == Passive::kElsewhere ? "elsewhere" : nullptr;
  pid_ = ::fork();
  if (pid_ == 0) {
    int log = ::open((folder_ + "/server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(log, 1);
    ::dup2(log, 2);
    // The system's interpreter, which has the packaged server module.
    ::execl("/usr/bin/python3", "python3", script.c_str(), port.c_str(), root.c_str(), flag,
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) return false;
  return WaitForPort(port_);
}

void FtpOrigin::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace brindlex::testing
