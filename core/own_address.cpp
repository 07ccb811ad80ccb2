#include "core/own_address.h"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>

namespace brindlex {

std::vector<Ipv4> InterfaceAddresses() {
  std::vector<Ipv4> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
    const Ipv4 address = ntohl(reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr);
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) addresses.push_back(address);
  }
  ::freeifaddrs(list);
  return addresses;
}

bool IsOwnAddress(Ipv4 address, const std::vector<Ipv4>& interfaces) {
  // 0.0.0.0 and the whole loopback net reach this machine too.
  if (address == 0 || (address >> 24) == 127) return true;
  return std::find(interfaces.begin(), interfaces.end(), address) != interfaces.end();
}

bool IsOwnAddress(Ipv4 address) { return IsOwnAddress(address, InterfaceAddresses()); }

}  // namespace brindlex
