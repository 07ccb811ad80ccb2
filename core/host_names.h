// The host a client names in a request ("name[:port]") and the LocalHosts
// patterns it is compared with. A pattern made of digits, dots and the
// wildcards '*' and '?' is an address pattern: it speaks of where a host leads, so it is matched against
// the address the host resolved to and never against the text the client
// typed (which could be "10.1.2.3.example" and lead anywhere). Any other
// pattern is a name pattern: it is matched against the host name alone, and
// never against a host written as an address. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/value_codec.h"

namespace brindlex {

struct HostPort {
  std::string_view name;
  int port = 0;  // 0: none given
};

// Splits "name[:port]" at its first ':'. The name holds only the characters
// of a host name or an address (letters, digits, '-', '.', '_'). The port is decimal digits alone
// with a value in 1..65535; an empty port after the colon counts as none.
// False for any other port: a request naming it is malformed, as a lenient
// reading ("80.lan" as 80) would let the rest of the text pass for the name.
bool SplitHostPort(std::string_view authority, HostPort& out);

// Whether a host is written as an address rather than a name: digits and dots
// alone, or any other form the resolver reads as a number ("0x7f.1").
bool IsAddressHost(std::string_view host);

// Whether a LocalHosts pattern is an address pattern: digits, dots, '*' and
// '?' only, with at least one digit ("*" alone stays a name pattern).
bool IsAddressPattern(std::string_view pattern);

// Whether one of the address patterns among `patterns` matches the dotted form of `address`; never for kNoAddress.
bool AddressPatternsMatch(const std::vector<std::string>& patterns, Ipv4 address);

// Whether one of the name patterns among `patterns` matches `name` (any
// case); never when `name` is written as an address.
bool NamePatternsMatch(const std::vector<std::string>& patterns, std::string_view name);

}  // namespace brindlex
