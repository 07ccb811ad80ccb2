// The next hop of a connection at the socket level: resolving a name into an
// IPv4 address and opening the TCP connection to serverAddress:serverPort,
// each waiting for the dial-up link first when the link is down and the user
// may make the gateway dial. Worker thread of the connection only; resolving
// and connecting block that worker (a close or shutdown ends the wait).
#pragma once

#include <string>

#include "core/value_codec.h"

namespace brindlex {

struct ConnectionRecord;

// The address of a dotted quad, or the first IPv4 address the system resolver
// gives for a name. kNoAddress when the name does not resolve, or when it
// could only be resolved over a dial-up link that this user may not raise.
Ipv4 ResolveUpstream(ConnectionRecord& record, const std::string& name);

// Whether the gateway refuses a destination that a client chose (not one the
// administrator set, such as the parent proxy): an address of this machine's
// loopback net or 0.0.0.0, which reaches it too. Services bound there trust
// the machine itself, not every user of its LAN, so they are reached only
// when EnableLoopbackTargets is on or an address pattern of LocalHosts
// matches the address. The message of the refusal is kLoopbackRefusal.
bool RefusedDestination(Ipv4 address);
inline constexpr int kLoopbackRefusal = 498;

enum class UpstreamResult {
  kConnected,
  kFailed,        // no address, or the connect failed
  kDialUpDenied,  // the link is down and this user may not dial
};
// Connects serverSocket to serverAddress:serverPort.
UpstreamResult ConnectUpstream(ConnectionRecord& record);

// Connects clientSocket to a port of the client's own machine (the data port
// an FTP client names): a LAN peer, so no dial-up is waited for.
bool ConnectClientSide(ConnectionRecord& record, Ipv4 address, int port);

}  // namespace brindlex
