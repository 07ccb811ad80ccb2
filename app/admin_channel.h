// The gateway's end of the administration channel, wired into the program:
// consoles attached over the local socket or TLS see the engine through it,
// get every monitor line, the mail sender's progress and each second's
// refresh requests of the main timer, and may ask for the gateway's figures
// or its orderly stop. Main thread only, except PushMonitorLine.
#pragma once

#include <string>

namespace brindlex {

class ConsoleEngine;
class MainLoop;
struct Gateway;

// Opens the channel after start-up (the local socket always; TLS when
// AdminPort names a port) and hooks the main timer's refresh requests to it.
// A channel that cannot open is reported on the monitor; the gateway serves
// on without it.
void StartAdminChannel(Gateway& gateway, ConsoleEngine& engine, MainLoop& loop);
// Says farewell to every console, closes the channel and waits for its threads.
void StopAdminChannel();
// Hands a monitor line, with the switch of its service, to every console
// attached (any thread; never waits).
void PushMonitorLine(const std::string& line, int monitorSwitch);

}  // namespace brindlex
