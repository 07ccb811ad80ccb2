// Which targets are local: servers of the LAN named in LocalHosts (reached
// without authorization, not counted, cached only when allowed) and the
// gateway itself, whose built-in web server answers requests addressed to it.
// Reads the settings without a lock, like every worker.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/value_codec.h"

namespace brindlex {

struct ConnectionRecord;

// The name by which browsers address the gateway itself.
inline constexpr std::string_view kGatewayHostName = "Brindlex";

// Whether a host name (without its port) names the gateway: kGatewayHostName
// or this machine's own host name, in any case. Such a name is never looked
// up: the pages and messages send users to http://brindlex/, which no DNS
// server of the LAN need know.
bool IsGatewayName(std::string_view hostName);
// The gateway's names: kGatewayHostName, then this machine's host name when
// it has one.
std::vector<std::string> GatewayNames();

// True when the host name (without its port) is a gateway name, when a name pattern of `localHosts` matches the name,
// or when an address pattern matches the address it resolved to (core/host_names.h).
bool IsLocalServer(std::string_view hostName, Ipv4 address, const std::vector<std::string>& localHosts);

// Sets the connection's localServer when IsLocalServer says so with the
// LocalHosts setting and the connection's serverAddress; never clears it.
void MarkLocalServer(ConnectionRecord& record, std::string_view hostName);

// Whether the request is addressed to the gateway itself: the host is one of
// its names (IsGatewayName), or the target port is one of the HTTP ports and the target address
// is one of this machine's own addresses (which keeps the proxy from
// connecting to itself).
bool IsGatewayRequest(const ConnectionRecord& record);

// The built-in web server sits above this layer; it registers its answer at
// start-up (on the main thread, before the listener starts; workers read it
// without a lock afterwards). Until then, and in tests that do not register
// it, a request to the gateway finds nothing (404).
using GatewayAnswer = void (*)(ConnectionRecord&);
void RegisterGatewayAnswer(GatewayAnswer answer);
// Answers a request for which IsGatewayRequest holds.
void AnswerGatewayRequest(ConnectionRecord& record);

}  // namespace brindlex
