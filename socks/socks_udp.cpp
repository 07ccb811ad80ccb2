#include "socks/socks_udp.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/accounting.h"
#include "core/connection.h"
#include "http/access_gate.h"
#include "http/next_hop.h"
#include "net/upstream.h"
#include "socks/socks_messages.h"

namespace brindlex {

namespace {

constexpr size_t kDatagramMax = 65536;

// One datagram of `socket` and where it came from; -1 when none was waiting.
ssize_t ReceiveDatagram(int socket, char* buffer, size_t size, Ipv4& from, int& port) {
  sockaddr_in source{};
  socklen_t length = sizeof(source);
  ssize_t n = ::recvfrom(socket, buffer, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&source), &length);
  if (n < 0 || source.sin_family != AF_INET) return -1;
  from = ntohl(source.sin_addr.s_addr);
  port = ntohs(source.sin_port);
  return n;
}

ssize_t SendDatagram(int socket, const char* bytes, size_t size, Ipv4 to, int port) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = htonl(to);
  target.sin_port = htons(static_cast<std::uint16_t>(port));
  return ::sendto(socket, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&target),
                  sizeof(target));
}

}  // namespace

void Socks5UdpFromClient(ConnectionRecord& r) {
  std::unique_ptr<char[]> buffer(new char[kDatagramMax]);
  Ipv4 from = kNoAddress;
  int port = 0;
  ssize_t n = ReceiveDatagram(r.auxSocket, buffer.get(), kDatagramMax, from, port);
  if (n < 0 || from != r.clientAddress) return;
  r.clientUdpPort = port;
  std::string_view datagram(buffer.get(), static_cast<size_t>(n));
  SocksUdpHeader header;
  if (ParseSocksUdpHeader(datagram, header) != SocksParse::kComplete) return;
  r.host = header.target.host.substr(0, kHostMax);
  ResolveTarget(r, r.host);
  r.url = r.host;
  r.serverPort = header.target.port;
  if (r.serverAddress == kNoAddress || r.serverPort == 0) return;
  // Refused as a CONNECT there would be, but only this datagram: the
  // association goes on for the client's other destinations.
  if (RefusedDestination(r.serverAddress)) {
    ReportRefused(r, kLoopbackRefusal, false);
    return;
  }
  std::string_view payload = datagram.substr(header.length);
  ssize_t sent = SendDatagram(r.serverSocket, payload.data(), payload.size(), r.serverAddress, r.serverPort);
  if (sent == static_cast<ssize_t>(payload.size())) CountSent(r, sent);
}

void Socks5UdpFromServer(ConnectionRecord& r) {
  std::unique_ptr<char[]> buffer(new char[kSocksAddressReplySize + kDatagramMax]);
  char* payload = buffer.get() + kSocksAddressReplySize;
  Ipv4 from = kNoAddress;
  int port = 0;
  ssize_t n = ReceiveDatagram(r.serverSocket, payload, kDatagramMax, from, port);
  if (n < 0 || from != r.serverAddress) return;
  CountReceived(r, n);
  if (r.clientUdpPort == 0) return;
  std::string header = SocksUdpHeaderFor(from, port);
  header.copy(buffer.get(), kSocksAddressReplySize);
  SendDatagram(r.auxSocket, buffer.get(), kSocksAddressReplySize + static_cast<size_t>(n), r.clientAddress,
               r.clientUdpPort);
}

}  // namespace brindlex
