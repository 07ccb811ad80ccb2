// The gateway's end of the administration channel: a Unix socket in the
// program folder for local consoles (admitted by the peer's credentials) and,
// when a port is set, a TLS listener for consoles elsewhere (admitted by the
// administrator's password). Each console gets a thread that does its I/O
// and a thread that serves its calls in order, so a long call neither stops
// that console's pings nor holds up another console.
//
// Nothing a console does can slow the gateway: pushes only append to each
// console's bounded queue (monitor lines past its bound are counted, and the
// console is told how many it missed when it reads again), and a console
// that breaks the protocol or falls silent is closed.
//
// Threads: Start and Stop from one thread (start-up and shutdown); Push,
// ConsoleCount and Figures from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/admin_link.h"

namespace brindlex {

enum class PasswordCheck { kMatch, kWrong, kNotSet };
// Compares a console's password with PasswordAdmin in time that does not
// depend on where they differ; an empty PasswordAdmin admits nobody.
PasswordCheck CheckAdminPassword(std::string_view given, std::string_view stored);

struct AdminServerTimings {
  std::chrono::milliseconds silence{60000};  // no frame from a console
  std::chrono::milliseconds stall{20000};    // half a frame and no byte more
  std::chrono::milliseconds login{10000};    // TLS handshake and hello
  // A failed login makes the next one from its address wait this long,
  // doubling with each failure up to loginDelayMax.
  std::chrono::milliseconds loginDelayBase{1000};
  std::chrono::milliseconds loginDelayMax{30000};
  std::chrono::milliseconds farewell{1000};  // to write the last words
};

struct AdminServerOptions {
  std::string programFolder;
  // The TLS listener: 0 = none; kAnyAdminPort = a free port (tests), see
  // TlsPort(). The key and certificate must be in the program folder.
  int port = 0;
  std::string address;   // the listener's IPv4 address; "" = every address
  std::string hostName;  // told to consoles; "" = this machine's name
  std::function<PasswordCheck(std::string_view password)> checkPassword;
  AdminServeFn serve;
  // Where the lines of consoles attaching and leaving go (any thread).
  std::function<void(std::string line)> monitor;
  // Runs work on the gateway's main thread; unset: on the calling thread.
  std::function<void(const std::function<void()>& work)> runOnMainThread;
  AdminServerTimings timings;
  std::size_t maxQueuedLines = 10000;
  std::size_t maxQueuedBytes = 4 * 1024 * 1024;
};
inline constexpr int kAnyAdminPort = -1;
inline constexpr std::size_t kMaxAdminConsoles = 16;

// One console's outgoing queue as it stands (for tests and benchmarks).
struct AdminConsoleFigures {
  std::size_t queuedLines = 0;
  std::size_t queuedBytes = 0;
  std::uint64_t missedLines = 0;  // not yet told to the console
  std::size_t largestQueuedBytes = 0;
};

class AdminServer {
 public:
  AdminServer();
  ~AdminServer();  // Stop()
  AdminServer(const AdminServer&) = delete;
  AdminServer& operator=(const AdminServer&) = delete;

  // Opens the listeners and starts accepting. False with `error` set (the
  // socket cannot be made, the key cannot be loaded); nothing then runs.
  bool Start(AdminServerOptions options, std::string& error);
  // Says farewell to every console, closes all, waits for every thread and
  // removes the socket file. Safe to call twice.
  void Stop();
  // Queues a push for every logged-in console; never waits for one.
  void Push(AdminPush kind, std::string_view payload);
  // Consoles logged in and not yet closed.
  std::size_t ConsoleCount() const;
  std::vector<AdminConsoleFigures> Figures() const;
  int TlsPort() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace brindlex
