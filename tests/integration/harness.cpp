#include "tests/integration/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace brindlex::testing {

std::string MakeProgramFolder(const std::string& settings) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brindlex-test-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  std::string command = std::string(BRINDLEX_SOURCE_DIR) + "/scripts/lay-out-home.sh '" + pattern + "'";
  int rc = 0;
  RunProgram(command, &rc);
  if (rc != 0) throw std::runtime_error("lay-out-home.sh failed");
  WriteFile(pattern + "/Brindlex.ini", settings);
  return pattern;
}

void RemoveFolder(const std::string& folder) {
  if (folder.find("brindlex-test-") == std::string::npos) return;
  RunProgram("rm -rf '" + folder + "'");
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Ports for gateways and origins. A port the kernel handed to a bind() to
// port 0 and took back is an ephemeral port: under load another process's
// connect() or bind() took it again before the gateway bound it, and the
// gateway reported it as busy. Retrying a start when the gateway says so would
// not do, since tests pick several ports at once (ten HTTP ports, an origin,
// a port that must refuse) and the gateway runs on with the others. So ports
// come from outside the kernel's ephemeral range, where only an explicit
// bind() takes one, and each test process on the machine (ctest runs several,
// other worktrees run theirs) claims every port it picks with a lock on the
// byte of that number in one shared lock file, held until the process ends.
// A port something else holds now (a service, a gateway left behind, sockets
// in TIME_WAIT) is passed over.
namespace {

constexpr int kLowestPort = 10000;
constexpr const char* kPortLockFile = "/tmp/brindlex-test-ports.lock";

std::vector<int> PortsOutsideTheEphemeralRange() {
  int low = 32768, high = 60999;
  std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low >> high;
  std::vector<int> ports;
  for (int port = kLowestPort; port <= 65535; ++port)
    if (port < low || port > high) ports.push_back(port);
  if (ports.empty()) throw std::runtime_error("no port outside the ephemeral range to test with");
  return ports;
}

// Nothing is bound to the port on any address, not even a closing connection.
bool Unused(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  bool unused = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 && ::listen(fd, 1) == 0;
  ::close(fd);
  return unused;
}

// Claims the port for this process until it ends (the lock belongs to the
// open file, which is never closed).
bool ClaimForThisProcess(int port) {
  static const int fd = ::open(kPortLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw std::runtime_error(std::string("cannot open ") + kPortLockFile);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = port;
  lock.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

int FreePort() {
  static std::mutex mutex;
  static const std::vector<int> ports = PortsOutsideTheEphemeralRange();
  static std::set<int> taken;  // the lock file does not tell our own claims apart
  static std::mt19937 random(static_cast<unsigned>(::getpid()) ^
                             static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::lock_guard<std::mutex> lock(mutex);
  size_t start = random() % ports.size();
  for (size_t i = 0; i < ports.size(); ++i) {
    int port = ports[(start + i) % ports.size()];
    // Claimed before it is tried: trying binds it for a moment, which must
    // never trip another process that is about to bind a port it claimed.
    if (taken.count(port) || !ClaimForThisProcess(port)) continue;
    taken.insert(port);
    if (Unused(port)) return port;
  }
  throw std::runtime_error("every test port is in use");
}

GatewayProcess::~GatewayProcess() {
  if (pid_ > 0) Stop(SIGKILL, 5s);
  if (reader_.joinable()) reader_.join();
}

void GatewayProcess::Start(const std::string& display) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(pipeFds[1], 1);
    ::dup2(pipeFds[1], 2);
    ::setenv("BRINDLEX_HOME", home_.c_str(), 1);
    if (display.empty()) {
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
    } else {
      ::setenv("DISPLAY", display.c_str(), 1);
      ::setenv("WAYLAND_DISPLAY", display.c_str(), 1);
    }
    if (launcher_.empty()) {
      ::execl(BRINDLEX_BINARY, "brindlex", static_cast<char*>(nullptr));
    } else {
      std::vector<char*> arguments;
      for (std::string& argument : launcher_) arguments.push_back(argument.data());
      arguments.push_back(const_cast<char*>(BRINDLEX_BINARY));
      arguments.push_back(nullptr);
      ::execvp(arguments[0], arguments.data());
    }
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  reader_ = std::thread([this, fd = pipeFds[0]] { ReadOutput(fd); });
}

void GatewayProcess::ReadOutput(int fd) {
  char buffer[4096];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    std::lock_guard<std::mutex> lock(mutex_);
    output_.append(buffer, static_cast<size_t>(n));
    changed_.notify_all();
  }
  ::close(fd);
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

bool GatewayProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return output_.find(text) != std::string::npos || ended_; }) &&
         output_.find(text) != std::string::npos;
}

std::string GatewayProcess::Output() {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

void GatewayProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

int GatewayProcess::Stop(int signal, std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, signal);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  bool killed = false;
  while (::waitpid(pid_, &status, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      killed = true;
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  pid_ = -1;
  if (reader_.joinable()) reader_.join();
  ExpectNoSanitizerReport(status);
  return !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void GatewayProcess::ExpectNoSanitizerReport(int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool reported = WIFEXITED(status) && WEXITSTATUS(status) == kSanitizerExitCode;
  for (size_t at = output_.find("SUMMARY: "); !reported && at != std::string::npos;
       at = output_.find("SUMMARY: ", at + 1)) {
    size_t end = output_.find(':', at + 9);
    reported =
        end != std::string::npos && std::string_view(output_).substr(at + 9, end - at - 9).ends_with("Sanitizer");
  }
  if (reported) ADD_FAILURE() << "a sanitizer reported an error in the gateway:\n" << output_;
}

std::string RunProgram(const std::string& command, int* exitCode) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) {
    if (exitCode) *exitCode = -1;
    return output;
  }
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
  int status = ::pclose(pipe);
  if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

int ListenOnLoopback(int backlog, int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(sa);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0 || ::listen(fd, backlog) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  port = ntohs(sa.sin_port);
  return fd;
}

int ConnectLoopback(int port, int receiveBuffer) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool Accepts(int port) {
  const int fd = ConnectLoopback(port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

std::string RandomBytes(size_t size) {
  std::mt19937 generator(1234);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

namespace {
// Reads what arrives until the stop condition, a close or the deadline.
template <typename Stop>
std::string ReadWhile(int fd, std::chrono::milliseconds timeout, Stop stop, bool* closed) {
  std::string data;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  if (closed) *closed = false;
  while (!stop(data)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[65536];
    ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) {
      if (closed) *closed = true;
      break;
    }
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}
}  // namespace

std::string ReadUntilClosed(int fd, std::chrono::milliseconds timeout, bool* closed) {
  return ReadWhile(
      fd, timeout, [](const std::string&) { return false; }, closed);
}

int DatagramSocket(std::uint32_t address, int& port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(address);
  socklen_t length = sizeof(sa);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  port = ntohs(sa.sin_port);
  return fd;
}

void SendDatagram(int fd, const std::string& bytes, int port, std::uint32_t address) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(address);
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
}

std::string ReceiveDatagram(int fd, int* fromPort, std::chrono::milliseconds timeout) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return "";
  char buffer[2048];
  sockaddr_in from{};
  socklen_t length = sizeof(from);
  ssize_t n = ::recvfrom(fd, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &length);
  if (fromPort) *fromPort = ntohs(from.sin_port);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
}

std::string ReadBytes(int fd, size_t count, std::chrono::milliseconds timeout) {
  return ReadWhile(
      fd, timeout, [count](const std::string& d) { return d.size() >= count; }, nullptr);
}

int ConnectLoopbackFrom(std::uint32_t source, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval limit{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(source);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

std::string ReadCrLfLine(int fd) {
  std::string line;
  while (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) {
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    if (::poll(&p, 1, 10000) <= 0 || ::recv(fd, &c, 1, 0) != 1) return {};
    line += c;
  }
  return line;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace brindlex::testing

namespace brindlex::testing {

std::string HttpOpenLine(int port) { return "Открытие сокета 'HTTP', порт=" + std::to_string(port) + "; - Ok"; }

std::string InstalledMessage(int number) {
  std::string file = ReadFile(std::string(BRINDLEX_SOURCE_DIR) + "/data/wwwroot/messages.txt");
  std::string key = std::to_string(number) + " ";
  size_t at = file.find(key);
  if (at == std::string::npos) return "(message " + std::to_string(number) + " is not installed)";
  size_t end = file.find('\n', at);
  return file.substr(at + key.size(), end - at - key.size());
}

ProxyGateway::ProxyGateway(const std::string& systemLines, const std::string& extraSections) : port(FreePort()) {
  home = MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(port) + "\r\n" + systemLines + extraSections);
  process = std::make_unique<GatewayProcess>(home);
  process->Start();
  started = process->WaitForOutput(HttpOpenLine(port));
}

ProxyGateway::~ProxyGateway() {
  process.reset();
  RemoveFolder(home);
}

std::string ProxyGateway::Exchange(const std::string& bytes, bool* closed, bool halfClose) const {
  int fd = ConnectLoopback(port);
  if (fd < 0) return "(no connection)";
  SendAll(fd, bytes);
  if (halfClose) ::shutdown(fd, SHUT_WR);
  std::string answer = ReadUntilClosed(fd, std::chrono::seconds(10), closed);
  ::close(fd);
  return answer;
}

std::string Curl(const std::string& proxy, const std::string& url, int* exitCode, const std::string& options) {
  return RunProgram("curl -s --max-time 20 " + options + " -x " + proxy + " '" + url + "'", exitCode);
}

}  // namespace brindlex::testing
