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
// name only marks the connection local. A text that is no host name (a NUL,
// a blank, a bad port, longer than a name may be) is refused before any
// LocalHosts match or lookup: the resolver and the patterns would otherwise
// read two different hosts out of one text. Then the refusal is on the
// monitor (kBadHostMessage), nothing is set, and false tells the caller to
// end the connection its own way.
inline constexpr int kBadHostMessage = 421;
bool ResolveTarget(ConnectionRecord& record, std::string_view hostText);

// For a request on the HTTP port: with a parent proxy configured (and a valid
// CascadeIP) the connection goes there instead of to the origin; then
// ConnectUpstream.
UpstreamResult ConnectNextHop(ConnectionRecord& record);

// The "Proxy-Authorization: Basic ...\r\n" line for the parent proxy, or ""
// when none is configured (or there is no parent proxy).
std::string ParentProxyAuthorization(const ConnectionRecord& record);

}  // namespace brindlex
