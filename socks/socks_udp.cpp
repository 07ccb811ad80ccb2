#include "socks/socks_udp.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/accounting.h"
#include "core/connection.h"
#include "core/identification.h"
#include "http/access_gate.h"
#include "http/next_hop.h"
#include "http/reply_page.h"
#include "net/datagram_gate.h"
#include "net/socket_util.h"
#include "net/upstream.h"
#include "socks/socks_messages.h"

namespace brindlex {

namespace {

// The gates a CONNECT to the datagram's destination passes: the loopback
// rule, then the user's access check (filters, schedule, limits). A refusal
// drops this datagram only: the association goes on for the client's other
// destinations.
bool DestinationAdmitted(const ConnectionRecord& r) {
  if (RefusedDestination(r.serverAddress)) {
    ReportRefused(r, kLoopbackRefusal, false);
    return false;
  }
  const UserRecord* user = ConnectionUser(r);
  int refusal = user ? AccessRefusal(*user, r.service, r.clientAddress, r.url, false, -1) : kProxyAuthMessage;
  if (refusal == 0) return true;
  ReportRefused(r, refusal, false);
  return false;
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
  r.url = r.host;
  // Nothing of the previous datagram's destination may stay: the gateway's
  // own name leaves the address as it was.
  r.serverAddress = kNoAddress;
  if (!ResolveTarget(r, r.host)) return;
  // A datagram is the user's traffic wherever it goes, to a LocalHosts
  // server too: only a CONNECT there is left uncounted.
  r.localServer = false;
  r.serverPort = header.target.port;
  if (r.serverAddress == kNoAddress || r.serverPort == 0) return;
  if (!DestinationAdmitted(r)) return;
  std::string_view payload = datagram.substr(header.length);
  if (!DatagramWithinSpeed(r, static_cast<std::int64_t>(payload.size()), false)) return;
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
  // It has come over the link, whether or not the client gets it.
  CountReceived(r, n);
  if (r.clientUdpPort == 0 || !DatagramWithinSpeed(r, n, true)) return;
  std::string header = SocksUdpHeaderFor(from, port);
  header.copy(buffer.get(), kSocksAddressReplySize);
  SendDatagram(r.auxSocket, buffer.get(), kSocksAddressReplySize + static_cast<size_t>(n), r.clientAddress,
               r.clientUdpPort);
}

}  // namespace brindlex
