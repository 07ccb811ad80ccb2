// The SMTP front end (service 4). The client has the gateway's greeting; the
// gateway takes HELO or EHLO (answering it itself) and MAIL FROM, whose
// sender address identifies the user and, by its domain, the mail server.
// Connected, it answers the server's greeting with the client's HELO line and
// the answer to that with the MAIL FROM line, each byte for byte as the
// client sent it, and relays from then on: the server's answer to MAIL FROM
// is the first server text the client sees. Commands the client sent ahead
// wait in its buffer until the relay runs. Worker thread of the connection.
#pragma once

namespace brindlex {

// Installs the handlers of service 4.
void RegisterSmtpFront();

}  // namespace brindlex
