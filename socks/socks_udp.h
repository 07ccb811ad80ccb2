// The two relays of a SOCKS5 UDP association: datagrams of the client, each
// with its header naming the destination, go out from the server socket
// without it; replies from the one destination last written to come back
// from auxSocket with a header naming their source. A datagram that does not
// qualify is dropped, never answered.
//
// Worker thread of the record only.
#pragma once

namespace brindlex {

struct ConnectionRecord;

// auxSocket is readable: one datagram from the client.
void Socks5UdpFromClient(ConnectionRecord& record);
// The server socket is readable while auxSocket is open: one reply.
void Socks5UdpFromServer(ConnectionRecord& record);

}  // namespace brindlex
