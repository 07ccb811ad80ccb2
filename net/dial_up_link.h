// What the proxy needs from the dial-up manager: whether the Internet link is
// up. The manager itself (dialling on demand, clearing dialUpWait on every
// connection after each attempt, hanging up when idle) is not built yet, so
// the link counts as always up and no connection ever waits for it.
#pragma once

namespace brindlex {

inline bool DialUpLinkUp() { return true; }

}  // namespace brindlex
