#include "web/proxy_config.h"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <cstdio>

#include "core/host_names.h"

namespace brindlex {

namespace {

// A JavaScript string literal; the patterns come from the settings file,
// where anything may have been typed.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\x%02x", c);
      out += escape;
    } else {
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
  }
  return out + "\"";
}

std::string List(const std::vector<std::string>& items) {
  std::string out = "[";
  for (const std::string& item : items) out += (out.size() > 1 ? ", " : "") + item;
  return out + "]";
}

}  // namespace

std::vector<AddressRange> LanRanges(const std::vector<std::string>& usersAddrs, Ipv4 localAddress) {
  std::vector<AddressRange> ranges;
  for (const std::string& element : usersAddrs)
    if (auto range = ParseAddressRange(element)) ranges.push_back(*range);
  if (!ranges.empty()) return ranges;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return ranges;
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || !it->ifa_netmask || it->ifa_addr->sa_family != AF_INET) continue;
    Ipv4 address = ntohl(reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr);
    Ipv4 mask = ntohl(reinterpret_cast<const sockaddr_in*>(it->ifa_netmask)->sin_addr.s_addr);
    if (address != localAddress) continue;
    ranges.push_back({address & mask, (address & mask) | ~mask});
    break;
  }
  ::freeifaddrs(list);
  return ranges;
}

std::string ProxyConfigScript(const ProxyConfig& config) {
  std::vector<std::string> gateway, names, addresses, lan;
  for (const std::string& name : config.gatewayNames) gateway.push_back(Quoted(name));
  for (const std::string& pattern : config.localHosts)
    (IsAddressPattern(pattern) ? addresses : names).push_back(Quoted(pattern));
  for (const AddressRange& range : config.lan)
    lan.push_back("[" + std::to_string(range.first) + ", " + std::to_string(range.last) + "]");
  const std::string proxy = "PROXY " + FormatIpv4(config.proxyAddress) + ":" + std::to_string(config.proxyPort);

  // Address patterns speak of where a host leads, as in the gateway's own
  // check, so a name is resolved before they are tried; names and the LAN
  // ranges need no lookup when there are none of them.
  return "function FindProxyForURL(url, host) {\n"
         "  var proxy = \"" +
         proxy +
         "\";\n"
         "  var name = host.toLowerCase();\n"
         "  var gateway = " +
         List(gateway) +
         ";\n"
         "  var names = " +
         List(names) +
         ";\n"
         "  var addresses = " +
         List(addresses) +
         ";\n"
         "  var lan = " +
         List(lan) +
         ";\n"
         "  var i;\n"
         "  for (i = 0; i < gateway.length; i++)\n"
         "    if (name == gateway[i]) return proxy;\n"
         "  if (!/^[0-9]+(\\.[0-9]+){3}$/.test(name)) {\n"
         "    for (i = 0; i < names.length; i++)\n"
         "      if (shExpMatch(name, names[i])) return \"DIRECT\";\n"
         "  }\n"
         "  if (addresses.length == 0 && lan.length == 0) return proxy;\n"
         "  var address = /^[0-9]+(\\.[0-9]+){3}$/.test(name) ? name : dnsResolve(name);\n"
         "  if (!address) return proxy;\n"
         "  for (i = 0; i < addresses.length; i++)\n"
         "    if (shExpMatch(address, addresses[i])) return \"DIRECT\";\n"
         "  var part = address.split(\".\");\n"
         "  var value = ((+part[0] * 256 + +part[1]) * 256 + +part[2]) * 256 + +part[3];\n"
         "  for (i = 0; i < lan.length; i++)\n"
         "    if (value >= lan[i][0] && value <= lan[i][1]) return \"DIRECT\";\n"
         "  return proxy;\n"
         "}\n";
}

}  // namespace brindlex
