// The SOCKS5 service as the worker loop sees it: the method negotiation, the
// user name and password, the request (CONNECT, BIND, UDP ASSOCIATE) and the
// relay that follows. Whatever goes wrong ends the connection without a
// SOCKS reply.
//
// Register once on the main thread before the listener starts.
#pragma once

namespace brindlex {

void RegisterSocks5Protocol();

}  // namespace brindlex
