// The FTP proxy (service 2): an FTP client connects to the gateway's FTP port
// and names the real server in its login ("USER name@host", or USER and PASS
// for the gateway, then OPEN or SITE with the host). The gateway identifies
// the user, checks access, logs in for the client and relays the dialogue;
// it rewrites PORT and EPRT, and the 227 and 229 answers to PASV and EPSV, so
// that every data connection runs through a data record of its own (service
// 3), and refuses the data port forms it does not translate. Worker thread of
// the connection.
#pragma once

namespace brindlex {

// Installs the handlers of services 2 and 3.
void RegisterFtpProxy();

}  // namespace brindlex
