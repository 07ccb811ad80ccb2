// Small POSIX socket helpers. Every socket is close-on-exec; sends never raise
// SIGPIPE.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <limits>

#include "core/value_codec.h"

namespace brindlex {

// The backlog of a service's listening socket: as long as the system allows.
// The kernel cuts a larger value to its own ceiling (net.core.somaxconn), so
// asking for the most means a burst of clients waits in the queue instead of
// being refused or retried after a second by their own stacks.
inline constexpr int kFullBacklog = std::numeric_limits<int>::max();

// A listening TCP socket on address:port (kNoAddress or 0: all interfaces),
// or -1 on any failure with errno telling why. What it accepts has no delay
// and keep-alive (SetNoDelay, SetKeepAlive) already: accepted sockets inherit
// both. The same holds for OpenSingleAcceptSocket.
int OpenListeningSocket(Ipv4 address, int port, int backlog);
// The same for a port of 0 too, which has the kernel pick a free one (read it
// back with LocalAddress).
int ListenOn(Ipv4 address, int port, int backlog);
// A listening TCP socket on address for one inbound connection (an FTP data
// channel), at a free port the kernel picks, which `port` gets; -1 on failure.
int OpenSingleAcceptSocket(Ipv4 address, int& port);
// A datagram socket bound to port on all interfaces, or -1 with errno
// telling why.
int OpenDatagramSocket(int port);
void SetNoDelay(int fd);
// TCP keep-alive on a connected socket: a peer that vanished without closing
// (a machine switched off, a link gone) is found within minutes instead of
// holding its connection for good.
void SetKeepAlive(int fd);
// Peer and local IPv4 address of a connected socket (host order); false on failure.
bool PeerAddress(int fd, Ipv4& address, std::uint16_t& port);
bool LocalAddress(int fd, Ipv4& address, std::uint16_t& port);
// send() with MSG_NOSIGNAL, retrying on EINTR.
ssize_t SendSome(int fd, const void* data, size_t length);
// recv() retrying on EINTR.
ssize_t ReceiveSome(int fd, void* data, size_t length);
// The largest datagram the relays take in one piece.
inline constexpr size_t kDatagramMax = 65536;
// One datagram of a socket, without waiting, and where it came from; -1 when
// none was waiting (or it came from no IPv4 address). A longer datagram is
// cut to `size`.
ssize_t ReceiveDatagram(int fd, char* buffer, size_t size, Ipv4& from, int& port);
// One datagram to to:port without waiting.
ssize_t SendDatagram(int fd, const char* bytes, size_t size, Ipv4 to, int port);

}  // namespace brindlex
