#include "portmap/port_map_protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <memory>
#include <mutex>

#include "core/accounting.h"
#include "core/clock.h"
#include "core/connection.h"
#include "core/port_map_rules.h"
#include "core/process_state.h"
#include "http/access_gate.h"
#include "http/next_hop.h"
#include "http/reply_page.h"
#include "net/datagram_gate.h"
#include "net/protocol_handlers.h"
#include "net/relay.h"
#include "net/socket_util.h"
#include "net/upstream.h"

namespace brindlex {

namespace {

std::int64_t Now() { return ProgramClock().PerformanceCounter(); }

// The datagrams the listener handed over, each sent on to the destination;
// the client's port of the latest one is where the answers go.
void RelayClientDatagrams(ConnectionRecord& r) {
  std::deque<ClientDatagram> waiting;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    waiting.swap(r.clientDatagrams);
  }
  for (const ClientDatagram& datagram : waiting) {
    r.lastDatagramCounter = Now();
    r.clientUdpPort = datagram.port;
    if (!DatagramWithinSpeed(r, static_cast<std::int64_t>(datagram.bytes.size()), false)) continue;
    ssize_t sent =
        SendDatagram(r.serverSocket, datagram.bytes.data(), datagram.bytes.size(), r.serverAddress, r.serverPort);
    if (sent == static_cast<ssize_t>(datagram.bytes.size())) CountSent(r, sent);
  }
}

// The identification, the checks and the way to the destination; false ends
// the connection. The client hears nothing of a refusal: the monitor does.
bool Start(ConnectionRecord& r) {
  if (!r.portMapRule) return false;
  const PortMapRule& rule = *r.portMapRule;
  r.method = rule.name.substr(0, kMethodMax);
  r.host = rule.destHost.substr(0, kHostMax);
  r.url = r.host;
  r.proxyLogin = rule.login;
  r.serverPort = rule.destPort;  // unless the host names a port of its own
  const UserRecord* user = IdentifyConnection(r);
  if (!ResolveTarget(r, r.host)) return false;
  if (!r.localServer && !user) {
    ReportRefused(r, kProxyAuthMessage, true);
    return false;
  }
  // The destination is the administrator's, set in the rule, not one the
  // client chose: a rule may well lead to a service on the gateway itself.
  if (!CheckAccess(r, false, -1)) return false;
  if (!rule.IsUdp()) return ConnectUpstream(r) == UpstreamResult::kConnected;
  if (r.serverAddress == kNoAddress || r.serverPort <= 0) return false;
  // Unbound: the first datagram sent binds it to a port the kernel picks.
  r.serverSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (r.serverSocket < 0) return false;
  RelayClientDatagrams(r);
  return true;
}

bool TcpClientInput(ConnectionRecord& r) {
  MoveToServer(r, r.clientIn, r.clientInLength);
  return true;
}

void TcpServerInput(ConnectionRecord& r) { MoveToClient(r, r.serverIn, r.serverInLength); }

InputEnd TcpClientInputEnded(const ConnectionRecord&) { return InputEnd::kPassedOn; }

// Nothing of a mapped connection's bytes concerns the gateway.
int TcpBypassRoom(const ConnectionRecord&, int room) { return room; }

// auxSocket is the listener's signal that datagrams wait.
void UdpHandedOver(ConnectionRecord& r) {
  std::uint64_t signals = 0;
  if (::read(r.auxSocket, &signals, sizeof(signals)) < 0) {
    // Nothing to take: an earlier pass relayed what this signal announced.
  }
  RelayClientDatagrams(r);
}

// An answer, from whoever sent it to the conversation's own socket.
void UdpFromDestination(ConnectionRecord& r) {
  std::unique_ptr<char[]> buffer(new char[kDatagramMax]);
  Ipv4 from = kNoAddress;
  int port = 0;
  ssize_t n = ReceiveDatagram(r.serverSocket, buffer.get(), kDatagramMax, from, port);
  if (n < 0) return;
  r.lastDatagramCounter = Now();
  // It has come over the link, whether or not the client gets it.
  CountReceived(r, n);
  if (r.clientSocket >= 0 && r.clientUdpPort != 0 && DatagramWithinSpeed(r, n, true))
    SendDatagram(r.clientSocket, buffer.get(), static_cast<size_t>(n), r.clientAddress, r.clientUdpPort);
}

void UdpBeforeWait(ConnectionRecord& r) { EndIdleConversation(r, Now()); }

}  // namespace

bool EndIdleConversation(ConnectionRecord& r, std::int64_t now) {
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    // The listener may have found it quiet first, when a datagram came.
    if (!r.conversationEnded && !ConversationIdleLocked(r, now)) return false;
    r.conversationEnded = true;
  }
  r.serverFinished = true;
  return true;
}

void RegisterPortMapProtocol() {
  ProtocolHandlers tcp;
  tcp.start = Start;
  tcp.clientInput = TcpClientInput;
  tcp.serverInput = TcpServerInput;
  tcp.clientInputEnded = TcpClientInputEnded;
  tcp.bypassRoom = TcpBypassRoom;
  RegisterProtocolHandlers(kServicePortMapTcp, tcp);
  ProtocolHandlers udp;
  udp.start = Start;
  udp.auxInput = UdpHandedOver;
  udp.serverDatagrams = UdpFromDestination;
  udp.beforeWait = UdpBeforeWait;
  RegisterProtocolHandlers(kServicePortMapUdp, udp);
}

}  // namespace brindlex
