// The metrics page: a small HTTP server on MetricsAddress that answers
// GET /metrics with the gateway's figures in the Prometheus text format. It
// is for a monitoring system on the administrator's network, so it listens
// only on the one address it is given, serves at most kMetricsClients
// clients at once (a further one gets 503 and is closed), and gives a client
// kMetricsClientSeconds to send its head and as long again to take its
// answer.
//
// Threads: one thread of its own serves every client; the collector runs on
// it. Start and Stop belong to one thread (the main thread at start-up and
// shutdown).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "console/gateway_figures.h"

namespace brindlex {

inline constexpr int kMetricsClients = 8;
inline constexpr int kMetricsClientSeconds = 5;

class MetricsEndpoint {
 public:
  using Collector = std::function<GatewayFigures()>;
  // Monotonic milliseconds; the clients' deadlines are measured with it.
  using Now = std::function<std::int64_t()>;

  // Without `now`, the steady clock.
  explicit MetricsEndpoint(Now now = {});
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Listens on `address` ("a.b.c.d:port", as MetricsAddress holds it) and
  // starts the thread. An empty address starts nothing and returns true. An
  // address that does not read, or a port that cannot be opened, gives one
  // monitor line and returns false: the gateway goes on without the page.
  bool Start(const std::string& address, Collector collect);
  // The same on a given address (host order) and port; port 0 lets the
  // kernel choose, which port() then tells.
  bool StartOn(std::uint32_t address, int port, Collector collect);
  // Closes the listening socket and every client and joins the thread.
  // Nothing when not started.
  void Stop();

  bool running() const { return thread_.joinable(); }
  int port() const { return port_; }

 private:
  void Run();

  Now now_;
  Collector collect_;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace brindlex
