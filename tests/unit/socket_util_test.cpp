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

TEST(SocketUtil, ASingleAcceptSocketListensAtAPortTheKernelPicked) {
  int port = 0;
  int listener = OpenSingleAcceptSocket(0x7F000001u, port);
  ASSERT_GE(listener, 0);
  EXPECT_GT(port, 0);
  Ipv4 bound = kNoAddress;
  std::uint16_t boundPort = 0;
  ASSERT_TRUE(LocalAddress(listener, bound, boundPort));
  EXPECT_EQ(bound, 0x7F000001u) << "the address asked for, not every interface";
  EXPECT_EQ(boundPort, port);
  int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(0x7F000001u);
  EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)), 0);
  ::close(client);
  ::close(listener);
  EXPECT_EQ(OpenListeningSocket(0x7F000001u, 0, 1), -1) << "a configured port of 0 stays refused";
}

}  // namespace
}  // namespace brindlex
