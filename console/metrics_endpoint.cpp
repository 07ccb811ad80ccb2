#include "console/metrics_endpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "console/metrics_request.h"
#include "core/config_check.h"
#include "core/file_io.h"
#include "core/monitor.h"
#include "core/report_exception.h"
#include "core/strings.h"
#include "core/value_codec.h"
#include "net/socket_util.h"

namespace brindlex {

namespace {

constexpr std::int64_t kClientMs = kMetricsClientSeconds * 1000;
// While clients are connected the thread wakes this often to look at their
// deadlines; with none it sleeps until a client or Stop comes.
constexpr int kDeadlineTickMs = 100;

enum class Phase { kReading, kWriting, kDraining };

struct Client {
  int fd = -1;
  Phase phase = Phase::kReading;
  std::int64_t deadline = 0;
  std::string in;
  std::string out;
  std::size_t sent = 0;
};

void Report(const std::string& address, const char* reason) {
  char text[512];
  std::snprintf(text, sizeof(text), StrC(1260), address.c_str(), reason);
  MonitorShow(text);
}

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A client beyond the limit is told so at once; the answer is small enough
// for any socket buffer, and one that does not take it loses nothing.
void TurnAway(int fd) {
  const std::string answer = MetricsAnswerHead(503, 4) + "503\n";
  (void)!::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::close(fd);
}

}  // namespace

MetricsEndpoint::MetricsEndpoint(Now now) : now_(now ? std::move(now) : Now(SteadyMs)) {}

MetricsEndpoint::~MetricsEndpoint() { Stop(); }

bool MetricsEndpoint::Start(const std::string& address, Collector collect) {
  const std::string_view text = Trim(address);
  if (text.empty()) return true;
  std::uint32_t parsed = 0;
  int port = 0;
  if (!ParseAddressAndPort(text, parsed, port)) {
    Report(address, std::strerror(EINVAL));
    return false;
  }
  if (StartOn(parsed, port, std::move(collect))) return true;
  Report(address, std::strerror(errno));
  return false;
}

bool MetricsEndpoint::StartOn(std::uint32_t address, int port, Collector collect) {
  if (running()) return false;
  listenFd_ = ListenOn(address, port, 16);
  Ipv4 bound = 0;
  std::uint16_t boundPort = 0;
  // Non-blocking: a client gone between the poll and the accept must not
  // hold the thread.
  if (listenFd_ >= 0 &&
      (::fcntl(listenFd_, F_SETFL, O_NONBLOCK) != 0 || !LocalAddress(listenFd_, bound, boundPort))) {
    int error = errno;
    CloseDescriptor(listenFd_);
    errno = error;
  }
  if (listenFd_ < 0) return false;
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    int error = errno;
    CloseDescriptor(listenFd_);
    errno = error;
    return false;
  }
  port_ = boundPort;
  collect_ = std::move(collect);
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void MetricsEndpoint::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  std::uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof(one));
  thread_.join();
  CloseDescriptor(listenFd_);
  CloseDescriptor(wakeFd_);
}

void MetricsEndpoint::Run() {
  std::vector<Client> clients;
  std::vector<pollfd> fds;
  while (!stopping_) {
    fds.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (const Client& client : clients)
      fds.push_back({client.fd, static_cast<short>(client.phase == Phase::kWriting ? POLLOUT : POLLIN), 0});
    if (::poll(fds.data(), fds.size(), clients.empty() ? -1 : kDeadlineTickMs) < 0 && errno != EINTR) break;
    if (stopping_) break;
    const std::int64_t now = now_();
    // The clients polled are those before any accepted below.
    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& client = clients[i];
      const short events = fds[i + 2].revents;
      if (events == 0) continue;
      if (client.phase == Phase::kWriting) {
        ssize_t n = ::send(client.fd, client.out.data() + client.sent, client.out.size() - client.sent,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
          CloseDescriptor(client.fd);
          continue;
        }
        if (n > 0) client.sent += static_cast<std::size_t>(n);
        if (client.sent == client.out.size()) {
          // The client reads to the end and closes; what it still sends
          // meanwhile is read and dropped, so that the close is not a reset
          // that could cost it the end of the answer.
          ::shutdown(client.fd, SHUT_WR);
          client.phase = Phase::kDraining;
        }
        continue;
      }
      char buffer[2048];
      const std::size_t room =
          client.phase == Phase::kReading ? std::min(sizeof(buffer), kMetricsHeadMax - client.in.size()) : sizeof(buffer);
      ssize_t n = ::recv(client.fd, buffer, room, MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
      if (n <= 0 || client.phase == Phase::kDraining) {
        if (n <= 0) CloseDescriptor(client.fd);
        continue;
      }
      client.in.append(buffer, static_cast<std::size_t>(n));
      MetricsRequest request;
      const MetricsHeadStatus status = ParseMetricsHead(client.in.data(), client.in.size(), request);
      if (status == MetricsHeadStatus::kIncomplete) continue;
      try {
        client.out = MetricsAnswer(status, request, [this] { return MetricsText(collect_()); });
      } catch (...) {
        ReportCurrentExceptionAndGoOn("MetricsThread", 0);
        CloseDescriptor(client.fd);
        continue;
      }
      client.in.clear();
      client.phase = Phase::kWriting;
      client.deadline = now + kClientMs;
    }
    for (Client& client : clients)
      if (client.fd >= 0 && now >= client.deadline) CloseDescriptor(client.fd);
    std::erase_if(clients, [](const Client& client) { return client.fd < 0; });
    if (fds[1].revents & POLLIN) {
      int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        if (clients.size() >= static_cast<std::size_t>(kMetricsClients)) {
          TurnAway(fd);
        } else {
          Client client;
          client.fd = fd;
          client.deadline = now + kClientMs;
          clients.push_back(std::move(client));
        }
      }
    }
  }
  for (Client& client : clients) CloseDescriptor(client.fd);
}

}  // namespace brindlex
