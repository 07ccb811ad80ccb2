// The addresses at which this machine reaches itself: 0.0.0.0, the whole
// loopback net, and the IPv4 addresses of its interfaces. Something sent
// there comes back to the gateway instead of going out.
//
// Threads: any; the interface list is read anew on each call that needs it.
#pragma once

#include <vector>

#include "core/value_codec.h"

namespace brindlex {

// The IPv4 addresses of the machine's interfaces as they are now, each once
// (empty when they cannot be listed).
std::vector<Ipv4> InterfaceAddresses();
// Whether `address` is 0.0.0.0, in 127.0.0.0/8 or one of `interfaces`.
bool IsOwnAddress(Ipv4 address, const std::vector<Ipv4>& interfaces);
// The same with the interfaces as they are now.
bool IsOwnAddress(Ipv4 address);

}  // namespace brindlex
