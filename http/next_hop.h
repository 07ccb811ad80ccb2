// Where an HTTP request goes: the host a client named, turned into a port, an
// address and a local-server verdict; the parent proxy instead of the origin
// when one is configured; and the parent proxy's credentials. Worker thread of
// the connection only.
#pragma once

#include <string>
#include <string_view>

#include "net/upstream.h"

namespace brindlex {

struct ConnectionRecord;

// Sets serverPort, serverAddress (kNoAddress when the name cannot be
// resolved) and localServer from a host text "name[:port]". The gateway's own
// name only marks the connection local.
void ResolveTarget(ConnectionRecord& record, std::string_view hostText);

// For a request on the HTTP port: with a parent proxy configured (and a valid
// CascadeIP) the connection goes there instead of to the origin; then
// ConnectUpstream.
UpstreamResult ConnectNextHop(ConnectionRecord& record);

// The "Proxy-Authorization: Basic ...\r\n" line for the parent proxy, or ""
// when none is configured (or there is no parent proxy).
std::string ParentProxyAuthorization(const ConnectionRecord& record);

}  // namespace brindlex
