// The command line. Without arguments the program is the gateway; a few
// arguments serve an administrator on a server without the console: the
// usage, the version, a check of the configuration that names every
// problem it finds, the running gateway's figures (status), and the accounts
// commands (app/account_arguments.h).
// Each of those runs and ends before the gateway would start, and never takes
// the single-instance lock, so it works beside a running gateway.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/gateway_figures.h"

namespace brindlex {

enum class CommandKind { Gateway, Help, Version, Check, Status, AdminFingerprint, Accounts, Unknown };

struct Command {
  CommandKind kind = CommandKind::Gateway;
  std::string argument;                // the argument not understood, for Unknown
  std::vector<std::string> arguments;  // every argument, for Accounts
};

Command ParseCommandLine(const std::vector<std::string>& arguments);

// How `status` learns the figures of the gateway running on this program
// folder: nothing when none runs or it does not answer.
using StatusSource = std::function<std::optional<GatewayFigures>()>;

// Runs a command other than Gateway with the settings file at `settingsPath`,
// writing to `out` and `err`. Returns the exit code: 0 done (and for --check,
// no problem), 1 a problem found, the file unreadable or a change refused, 2 a
// command line not understood, 3 for status when no gateway answered.
// Accounts commands, status and --admin-fingerprint act on the program
// folder, which must be set.
int RunCommand(const Command& command, const std::string& settingsPath, std::FILE* out, std::FILE* err,
               const StatusSource& status);
// The same with status asking the gateway of the program folder over its
// local administration socket.
int RunCommand(const Command& command, const std::string& settingsPath, std::FILE* out, std::FILE* err);

}  // namespace brindlex
