// What SIGHUP does: the whole settings file is read again and applied to the
// running gateway (accounts, global filters, the "System" keys, the listening
// ports, the port-mapping rules), and its problems are reported as at start-up. Main thread only.
#pragma once

namespace brindlex {

struct Listener;

// `alsoReopen` (the listener's ReopenBits) names services to reopen even
// when their settings read the same: the editor's apply retries a port that
// could not be opened.
void ReloadSettingsFile(Listener& listener, int alsoReopen = 0);

}  // namespace brindlex
