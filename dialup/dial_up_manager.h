// The dial-up manager: raises the dial-up link when a connection asks for it
// (its dialUpWait), one dial for every connection waiting, releases them
// whatever the outcome, waits DialUpWaitRepet seconds after a failed dial
// before the next, and drops the link DialUpIdleTime seconds after the last
// connection (at once when dial-up is switched off). Each dial and hang-up is
// a line of the day's session log ("...-Brindlex.lgs"), in that log's column
// layout, and a line on the monitor.
//
// One thread runs the passes; the pass is apart from it so that tests drive
// it with their own backend and clock. The waiting flags are read and
// cleared under the accounts lock; nothing else here is shared.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dialup/remote_access.h"

namespace brindlex {

struct DialUpManager {
  RemoteAccess* access = nullptr;
  LinkHandle line = 0;                   // 0: the link is down
  std::optional<std::int64_t> failedAt;  // counter of the last failed dial
  std::int64_t connectionsSeenAt = 0;    // counter of the last pass with connections
  int stepMarker = 0;
  bool unusableTold = false;  // the monitor has been told why no dial can be made
  std::function<bool()> stopping = [] { return false; };
  // Where the log lines go (text without its line end); the session log of
  // the day unless a test takes them.
  std::function<void(const std::string&)> writeLine;
};

// One pass of the manager, at the program clock's present.
void DialUpPass(DialUpManager& manager);

// The monitor line that says why nobody can dial, the first time the manager
// finds dial-up on and the backend unusable; nothing again until the backend
// became usable or dial-up was switched off in between.
std::optional<std::string> UnusableNotice(DialUpManager& manager, bool enabled, bool usable);

// The entries the configuration editor offers, from the running thread's
// backend (main thread; the backend's listing is safe beside its dials).
DialUpPhoneBook DialUpEntries();

// Drops a link that is up, with its log line; for the end of the thread.
void DropDialUpLink(DialUpManager& manager);

// The thread: started at start-up over the given backend, stopped first at
// shutdown (a link that is up is dropped on the way out).
void StartDialUpThread(std::unique_ptr<RemoteAccess> access);
void StopDialUpThread();

}  // namespace brindlex
