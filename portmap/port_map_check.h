// Port-mapping rules that the settings file should not hold as they stand:
// one whose destination is a port the gateway itself maps (what arrives goes
// round between the gateway and itself for ever, burning a core and counted
// on every turn), and one that any address reaching the machine may use,
// from the Internet side too, without being a user of the gateway.
//
// Threads: pure functions, but IsOwnAddress asks the system for this
// machine's addresses; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/config_check.h"
#include "core/port_map_rules.h"

namespace brindlex {

// The enabled rule of `rules` whose listening port the destination of `rule`
// reaches on this machine (the rule itself included), or nullptr. Only what
// can be told without a lookup counts: a destination written as one of this
// machine's addresses, "localhost", or one of the gateway's own names.
const PortMapRule* LoopTarget(const PortMapRule& rule, const std::vector<PortMapRule>& rules);

// The text that names the loop: the port and the rule listening on it.
std::string LoopText(const PortMapRule& target);

// A hand-edited file may hold a loop all the same: such a rule is taken as
// disabled, so its port is never opened (the configuration check at start-up
// and reload says why).
void DisableLoops(std::vector<PortMapRule>& rules);

// The problems of the [PortMapping] section of a settings file's text, with
// their lines: every loop, and with an empty InInterface every enabled rule
// open to any source that identifies its user by the client's address.
std::vector<ConfigProblem> CheckPortMapping(std::string_view text);

}  // namespace brindlex
