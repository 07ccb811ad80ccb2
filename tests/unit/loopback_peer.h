// The far end of a connection the gateway's code serves in a unit test: a
// plain TCP socket on 127.0.0.1 and what arrives at it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace brindlex::testing {

// A TCP connection to 127.0.0.1:port; -1 on failure.
inline int ConnectTo(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

// What arrives at `fd`, up to `count` bytes, fewer when it closes or
// nothing comes for 2 s.
inline std::string Receive(int fd, size_t count = std::string::npos) {
  std::string got;
  char buffer[64];
  pollfd p{fd, POLLIN, 0};
  while (got.size() < count && ::poll(&p, 1, 2000) == 1) {
    ssize_t n = ::recv(fd, buffer, std::min(sizeof(buffer), count - got.size()), 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

}  // namespace brindlex::testing
