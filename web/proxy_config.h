// The proxy auto-configuration script a browser fetches as /proxy.pac or
// /wpad.dat: every URL goes through the gateway, at the address the browser
// reached it on, except those of the LocalHosts servers and of the LAN's own
// addresses, which the browser reaches directly. Pure but for LanRanges,
// which asks the system for its interfaces; any thread.
#pragma once

#include <string>
#include <vector>

#include "core/sessions.h"
#include "core/value_codec.h"

namespace brindlex {

struct ProxyConfig {
  Ipv4 proxyAddress = kNoAddress;
  int proxyPort = 0;
  std::vector<std::string> gatewayNames;  // always through the proxy
  std::vector<std::string> localHosts;    // LocalHosts patterns
  std::vector<AddressRange> lan;          // the LAN's own addresses
};

// The content type browsers expect of the script.
inline constexpr const char* kProxyConfigType = "application/x-ns-proxy-autoconfig";

// The LAN's addresses: the readable UsersAddrs ranges, or, when there are
// none, the network of the interface that has `localAddress`.
std::vector<AddressRange> LanRanges(const std::vector<std::string>& usersAddrs, Ipv4 localAddress);

// The script's text (JavaScript with the standard PAC helpers).
std::string ProxyConfigScript(const ProxyConfig& config);

}  // namespace brindlex
