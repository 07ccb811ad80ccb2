#include "socks/socks_sockets.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brindlex {

namespace {

int OpenBound(int type, Ipv4 address) {
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int OpenSocksListener(Ipv4 address) {
  int fd = OpenBound(SOCK_STREAM, address);
  if (fd >= 0 && ::listen(fd, 1) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int OpenSocksDatagramSocket(Ipv4 address) { return OpenBound(SOCK_DGRAM | SOCK_NONBLOCK, address); }

}  // namespace brindlex
