// The next hop of a connection: resolving the host a client named into a port,
// an IPv4 address and a local-server verdict; waiting for the dial-up link;
// opening the TCP connection (to the origin or to the parent proxy); and the
// parent proxy's credentials. Worker thread of the connection only; resolving
// and connecting block that worker (a close or shutdown ends the wait).
#pragma once

#include <string>
#include <string_view>

namespace brindlex {

struct ConnectionRecord;

// Sets serverPort, serverAddress (kNoAddress when the name cannot be
// resolved) and localServer from a host text "name[:port]". The gateway's own
// name only marks the connection local.
void ResolveTarget(ConnectionRecord& record, std::string_view hostText);

enum UpstreamResult : int {
  kUpstreamConnected = 0,
  kUpstreamFailed = 2,        // no address, or the connect failed
  kUpstreamDialUpDenied = 8,  // the link is down and this user may not dial
};
// Connects serverSocket to serverAddress:serverPort.
int ConnectUpstream(ConnectionRecord& record);

// For a request on the HTTP port: with a parent proxy configured (and a valid
// CascadeIP) the connection goes there instead of to the origin; then
// ConnectUpstream.
int ConnectNextHop(ConnectionRecord& record);

// The "Proxy-Authorization: Basic ...\r\n" line for the parent proxy, or ""
// when none is configured (or there is no parent proxy).
std::string ParentProxyAuthorization(const ConnectionRecord& record);

}  // namespace brindlex
