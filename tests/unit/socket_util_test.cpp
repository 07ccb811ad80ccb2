#include "net/socket_util.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace brindlex {
namespace {

int Option(int fd, int level, int name) {
  int value = -1;
  socklen_t length = sizeof(value);
  EXPECT_EQ(::getsockopt(fd, level, name, &value, &length), 0);
  return value;
}

TEST(SocketUtil, KeepAliveFindsAVanishedPeerWithinMinutes) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(Option(fd, SOL_SOCKET, SO_KEEPALIVE), 0) << "the system default would make this test prove nothing";
  SetKeepAlive(fd);
  EXPECT_NE(Option(fd, SOL_SOCKET, SO_KEEPALIVE), 0);
  int idle = Option(fd, IPPROTO_TCP, TCP_KEEPIDLE);
  int interval = Option(fd, IPPROTO_TCP, TCP_KEEPINTVL);
  int probes = Option(fd, IPPROTO_TCP, TCP_KEEPCNT);
  // The system's two hours before the first probe would keep a vanished
  // client's record that long; a few minutes in all is the aim.
  EXPECT_EQ(idle, 300);
  EXPECT_EQ(interval, 60);
  EXPECT_EQ(probes, 4);
  EXPECT_LE(idle + interval * probes, 10 * 60);
  ::close(fd);
}

}  // namespace
}  // namespace brindlex
