// The listener's side of port mapping: the rules' sockets, opened and closed
// at each reopen, and what arrives on them: a TCP rule's client becomes a
// connection of service 7; a UDP rule's datagram goes to the running
// conversation (service 8) of the same rule and client address, whatever
// the client's port, or starts a new one.
//
// Only the thread holding the listener's role calls these.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/port_map_rules.h"

namespace brindlex {

// Lets go of every socket in `held` that no rule holds any more, then opens
// the socket of every enabled rule that has none (TCP on the rule's address
// with the full backlog, UDP on the rule's port of every address) and keeps
// it in `held` too. `reports` gets the socket-opening line of each attempt.
// Returns the number of attempts.
int ReopenPortMapping(std::vector<std::shared_ptr<PortMapSocket>>& held, std::vector<std::string>& reports);

// Serves the readiness of a rule's socket.
void ServePortMapSocket(const PortMapRule& rule);

}  // namespace brindlex
