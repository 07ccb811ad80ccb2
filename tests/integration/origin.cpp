#include "tests/integration/origin.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "tests/integration/harness.h"

namespace brindlex::testing {

NginxOrigin::NginxOrigin() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brindlex-test-origin-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  RunProgram("mkdir -p '" + folder_ + "/www'");
}

NginxOrigin::~NginxOrigin() {
  Stop();
  RemoveFolder(folder_);
}

void NginxOrigin::Serve(const std::string& name, const std::string& bytes) {
  WriteFile(folder_ + "/www/" + name, bytes);
}

bool NginxOrigin::Start(bool tls) {
  port_ = FreePort();
  std::string tlsServer;
  if (tls) {
    tlsPort_ = FreePort();
    int rc = 0;
    RunProgram("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout '" + folder_ +
                   "/key.pem' -out '" + folder_ + "/cert.pem'",
               &rc);
    if (rc != 0) return false;
    tlsServer = "  server { listen 127.0.0.1:" + std::to_string(tlsPort_) + " ssl; root " + folder_ +
                "/www; ssl_certificate " + folder_ + "/cert.pem; ssl_certificate_key " + folder_ + "/key.pem; }\n";
  }
  WriteFile(folder_ + "/nginx.conf",
            "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + folder_ + "/nginx.pid;\nerror_log " +
                folder_ + "/error.log;\nevents { worker_connections 256; }\nhttp {\n  log_format probe '" + kLogFields +
                "';\n  log_format status '" + kStatusFields + "';\n  access_log " + folder_ +
                "/access.log probe;\n  access_log " + folder_ + "/status.log status;\n  client_body_temp_path " +
                folder_ + "/body;\n  server { listen 127.0.0.1:" + std::to_string(port_) + "; root " + folder_ +
                "/www; " + extraServerConfig + " }\n" + tlsServer + "}\n");
  pid_ = ::fork();
  if (pid_ == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execlp("nginx", "nginx", "-p", folder_.c_str(), "-e", (folder_ + "/error.log").c_str(), "-c",
             (folder_ + "/nginx.conf").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) return false;
  return WaitForPort(port_) && (!tls || WaitForPort(tlsPort_));
}

void NginxOrigin::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string NginxOrigin::WaitForLog(size_t count, std::chrono::milliseconds timeout) {
  return WaitForLines(folder_ + "/access.log", count, timeout);
}

std::string NginxOrigin::WaitForStatusLog(size_t count, std::chrono::milliseconds timeout) {
  return WaitForLines(folder_ + "/status.log", count, timeout);
}

std::string WaitForLines(const std::string& path, size_t count, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    std::string log = ReadFile(path);
    size_t lines = 0;
    for (char c : log) lines += c == '\n';
    if (lines >= count || std::chrono::steady_clock::now() > deadline) return log;
    // nginx writes its log line just after the response; nothing to wait on
    // but the file itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool WaitForPort(int port, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int fd = ConnectLoopback(port);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string RunInOwnNetwork(std::string (*body)()) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return "child failed: pipe";
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    std::string result;
    if (::unshare(CLONE_NEWNET) != 0) {
      result = "child failed: unshare";
    } else {
      int rc = 0;
      RunProgram("ip link set lo up", &rc);
      result = rc == 0 ? body() : "child failed: ip link set lo up";
    }
    size_t done = 0;
    while (done < result.size()) {
      ssize_t n = ::write(pipeFds[1], result.data() + done, result.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string result;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof(buffer))) > 0) result.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed: status " + std::to_string(status);
  return result;
}

}  // namespace brindlex::testing
