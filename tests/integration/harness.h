// Runs the real brindlex executable with a program folder of its own and gives
// tests small verbs to talk to it over loopback.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brindlex::testing {

using namespace std::chrono_literals;

// A fresh program folder under the system's temporary folder, laid out from
// data/ like an installation, with the given settings file.
std::string MakeProgramFolder(const std::string& settings);
void RemoveFolder(const std::string& folder);
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// A TCP port that nothing is bound to right now and that no other test
// process on this machine will pick; the kernel never hands it out for an
// outgoing connection either, so it stays free until this process uses it.
int FreePort();

// The exit code the test command gives ThreadSanitizer (TSAN_OPTIONS).
inline constexpr int kSanitizerExitCode = 66;

class GatewayProcess {
 public:
  // `launcher` runs before the executable and execs it in turn (nsenter into
  // a mount namespace, say), so that the process started is the gateway.
  explicit GatewayProcess(std::string home, std::vector<std::string> launcher = {})
      : home_(std::move(home)), launcher_(std::move(launcher)) {}
  ~GatewayProcess();
  GatewayProcess(const GatewayProcess&) = delete;
  GatewayProcess& operator=(const GatewayProcess&) = delete;

  // Starts the executable with BRINDLEX_HOME set, and with DISPLAY and
  // WAYLAND_DISPLAY naming `display` when it is not empty (the gateway must
  // not care).
  void Start(const std::string& display = {});
  // Waits until standard output and error hold the text; false on time-out
  // or when the process ended first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout = 10s);
  // Sends a signal and waits for the exit; returns the exit code, or -1 when
  // killed by a signal or still running after the time-out (then killed).
  // However the process ended, a sanitizer's report in it fails the test:
  // a race or leak need not change anything else the test looks at.
  int Stop(int signal = 15, std::chrono::milliseconds timeout = 20s);
  void Signal(int signal) const;
  std::string Output();
  pid_t pid() const { return pid_; }
  const std::string& home() const { return home_; }

 private:
  void ReadOutput(int fd);
  void ExpectNoSanitizerReport(int status);

  std::string home_;
  std::vector<std::string> launcher_;
  pid_t pid_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  bool ended_ = false;
};

// Runs a program to its end, returning what it printed and its exit code.
std::string RunProgram(const std::string& command, int* exitCode = nullptr);

// A listening socket on 127.0.0.1 at a port the kernel chose (set in `port`),
// for a test's own peer; -1 on failure.
int ListenOnLoopback(int backlog, int& port);

// Client verbs on 127.0.0.1.
// -1 on failure; a non-zero receiveBuffer sets SO_RCVBUF before connecting.
int ConnectLoopback(int port, int receiveBuffer = 0);
// Whether something accepts a connection on loopback `port` now.
bool Accepts(int port);
// A connection to 127.0.0.1:port from another loopback address (host order);
// -1 when refused or not accepted within 2 s (a socket nobody accepts on).
int ConnectLoopbackFrom(std::uint32_t source, int port);
// Reads until the peer closes or the time-out passes; `closed` tells which.
std::string ReadUntilClosed(int fd, std::chrono::milliseconds timeout = 5s, bool* closed = nullptr);
// Reads until `count` bytes or the time-out.
std::string ReadBytes(int fd, size_t count, std::chrono::milliseconds timeout = 5s);
bool SendAll(int fd, const std::string& bytes);
// One line of a dialogue (FTP, mail) with its CR LF, read a byte at a time so
// that nothing of the next line is taken; "" on close or after 10 s.
std::string ReadCrLfLine(int fd);
// A datagram socket on a loopback address (host order) at a port the kernel
// chose (set in `port`); -1 on failure.
int DatagramSocket(std::uint32_t address, int& port);
// One datagram to address:port (host order; 127.0.0.1 unless said).
void SendDatagram(int fd, const std::string& bytes, int port, std::uint32_t address = 0x7F000001);
// One datagram within the time-out, and its source port; "" when none came.
std::string ReceiveDatagram(int fd, int* fromPort = nullptr, std::chrono::milliseconds timeout = 3s);
// The same pseudo-random bytes for the same size on every call.
std::string RandomBytes(size_t size);

}  // namespace brindlex::testing

namespace brindlex::testing {

// The monitor line that says the HTTP port is open.
std::string HttpOpenLine(int port);

// The text of a numbered message as installed from data/wwwroot/messages.txt.
std::string InstalledMessage(int number);

// A gateway with its own program folder and HTTP port; `extraSections` may
// add [Groups], [Users] and other sections after [System].
struct ProxyGateway {
  explicit ProxyGateway(const std::string& systemLines, const std::string& extraSections = "");
  ~ProxyGateway();
  // Sends raw bytes as a client and returns everything until the gateway
  // closes; `closed` tells whether it did.
  std::string Exchange(const std::string& bytes, bool* closed = nullptr, bool halfClose = false) const;
  std::string Proxy() const { return "http://127.0.0.1:" + std::to_string(port); }

  int port;
  std::string home;
  std::unique_ptr<GatewayProcess> process;
  bool started = false;
};

// curl through a proxy; returns the body (or the head with -i) and the exit code.
std::string Curl(const std::string& proxy, const std::string& url, int* exitCode, const std::string& options = "");

}  // namespace brindlex::testing
