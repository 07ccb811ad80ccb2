#include "socks/socks_udp.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/accounting.h"
#include "core/connection.h"
#include "http/access_gate.h"
#include "http/next_hop.h"
#include "net/socket_util.h"
#include "net/upstream.h"
#include "socks/socks_messages.h"

namespace brindlex {

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
  r.url = r.host;
  if (!ResolveTarget(r, r.host)) return;
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
