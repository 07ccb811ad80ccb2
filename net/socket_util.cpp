#include "net/socket_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace brindlex {

int ListenOn(Ipv4 address, int port, int backlog) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  // Restarting must not wait for old connections in TIME_WAIT; a port that
  // another socket listens on still fails to bind.
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  // Every accepted socket inherits these: set once here, not per client.
  SetNoDelay(fd);
  SetKeepAlive(fd);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = (address == kNoAddress || address == 0) ? htonl(INADDR_ANY) : htonl(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 || ::listen(fd, backlog) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;  // the caller reports why
    return -1;
  }
  return fd;
}

int OpenListeningSocket(Ipv4 address, int port, int backlog) {
  if (port <= 0 || port > 65535) {
    errno = EINVAL;
    return -1;
  }
  return ListenOn(address, port, backlog);
}

int OpenSingleAcceptSocket(Ipv4 address, int& port) {
  int fd = ListenOn(address, 0, 1);
  Ipv4 bound = kNoAddress;
  std::uint16_t picked = 0;
  if (fd >= 0 && !LocalAddress(fd, bound, picked)) {
    ::close(fd);
    return -1;
  }
  port = picked;
  return fd;
}

int OpenDatagramSocket(int port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  if (port <= 0 || port > 65535) errno = EINVAL;
  if (port <= 0 || port > 65535 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;  // the caller reports why
    return -1;
  }
  return fd;
}

void SetNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

namespace {
// The first probe after 5 minutes of quiet, then one a minute; the fourth
// unanswered one ends the connection. Quiet tunnels cost one small segment
// each way every 5 minutes.
constexpr int kKeepAliveIdleSeconds = 300;
constexpr int kKeepAliveIntervalSeconds = 60;
constexpr int kKeepAliveProbes = 4;
}  // namespace

void SetKeepAlive(int fd) {
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof(one));
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleSeconds, sizeof(kKeepAliveIdleSeconds));
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalSeconds, sizeof(kKeepAliveIntervalSeconds));
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof(kKeepAliveProbes));
}

namespace {
bool AddressOf(int fd, bool peer, Ipv4& address, std::uint16_t& port) {
  sockaddr_in sa{};
  socklen_t len = sizeof(sa);
  int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len)
                : ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  if (rc != 0 || sa.sin_family != AF_INET) return false;
  address = ntohl(sa.sin_addr.s_addr);
  port = ntohs(sa.sin_port);
  return true;
}
}  // namespace

bool PeerAddress(int fd, Ipv4& address, std::uint16_t& port) { return AddressOf(fd, true, address, port); }
bool LocalAddress(int fd, Ipv4& address, std::uint16_t& port) { return AddressOf(fd, false, address, port); }

ssize_t SendSome(int fd, const void* data, size_t length) {
  while (true) {
    ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

ssize_t ReceiveSome(int fd, void* data, size_t length) {
  while (true) {
    ssize_t n = ::recv(fd, data, length, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

ssize_t ReceiveDatagram(int fd, char* buffer, size_t size, Ipv4& from, int& port) {
  sockaddr_in source{};
  socklen_t length = sizeof(source);
  ssize_t n = ::recvfrom(fd, buffer, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&source), &length);
  if (n < 0 || source.sin_family != AF_INET) return -1;
  from = ntohl(source.sin_addr.s_addr);
  port = ntohs(source.sin_port);
  return n;
}

ssize_t SendDatagram(int fd, const char* bytes, size_t size, Ipv4 to, int port) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = htonl(to);
  target.sin_port = htons(static_cast<std::uint16_t>(port));
  return ::sendto(fd, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&target), sizeof(target));
}

}  // namespace brindlex
