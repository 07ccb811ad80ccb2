// The gateway's end of the console's calls: decodes a call's arguments, runs
// the engine's method and encodes its result (console/admin_calls.h lists the
// calls and what they carry).
//
// Threads: ServeAdminCall runs on the server's thread of the console that
// called. The statistics only read log files and run on that thread, stopped
// by the console's abort, so that the main loop goes on meanwhile; every other
// method runs inside context.runOnMainThread, where the engine's tables
// expect it. Calls of several consoles may arrive at once: each is served on
// its own thread, and the main thread runs their methods one after another.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "console/admin_link.h"
#include "console/console_engine.h"

namespace brindlex {

// The encoded result; nothing when the call is unknown (the gateway's own
// calls included), when its arguments do not decode or leave bytes over.
std::optional<std::string> ServeAdminCall(ConsoleEngine& engine, std::uint16_t call, std::string_view args,
                                          const AdminCallContext& context);

}  // namespace brindlex
