// The HTTP proxy as the worker loop sees it: what a connection of the HTTP
// port does with its client's and its server's bytes in each state, and which
// response bytes may bypass it through the pipe relay.
//
// Register once on the main thread before the listener starts.
#pragma once

namespace brindlex {

// Installs the HTTP handlers for the HTTP port's connections (their ftp://
// data channels belong to the FTP service).
void RegisterHttpProtocol();

}  // namespace brindlex
