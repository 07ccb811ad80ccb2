// The sockets a SOCKS5 request opens on the gateway's side: the listening
// socket of a BIND and the two datagram sockets of a UDP association. Each is
// bound to a port the system picks, which the reply then tells the client.
#pragma once

#include <cstdint>

#include "core/value_codec.h"

namespace brindlex {

// A TCP socket listening on address (0: every interface) and a free port,
// with a backlog of one; -1 on failure.
int OpenSocksListener(Ipv4 address);
// A datagram socket bound to address (0: every interface) and a free port,
// not blocking; -1 on failure.
int OpenSocksDatagramSocket(Ipv4 address);

}  // namespace brindlex
