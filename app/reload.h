// What SIGHUP does: the whole settings file is read again and applied to the
// running gateway (accounts, global filters, the "System" keys, the listening
// ports, the port-mapping rules), and its problems are reported as at start-up. Main thread only.
#pragma once

namespace brindlex {

struct Listener;

void ReloadSettingsFile(Listener& listener);

}  // namespace brindlex
