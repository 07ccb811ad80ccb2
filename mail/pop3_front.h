// The POP3 front end (service 5). The client has the gateway's greeting and
// sends USER with the mailbox name, the separator (PostLimiter, "#" by
// default) and the mail address: the address identifies the user and, by its
// domain, the POP3 server. Connected, the gateway answers the server's
// greeting with "USER <mailbox name>" and relays from then on: the server's
// answer to USER is the first server text the client sees. What the client
// sent after USER waits until then. Worker thread of the connection.
#pragma once

namespace brindlex {

// Installs the handlers of service 5.
void RegisterPop3Front();

}  // namespace brindlex
