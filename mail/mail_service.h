// The mail relays: the SMTP and POP3 front ends on the gateway's mail ports.
// Register once on the main thread before the listener starts.
#pragma once

namespace brindlex {

void RegisterMailService();

}  // namespace brindlex
