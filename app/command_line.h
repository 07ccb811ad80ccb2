// The command line. Without arguments the program is the gateway; a few
// arguments serve an administrator on a server without the console: the
// usage, the version, a check of the configuration that names every
// problem it finds, and the accounts commands (app/account_arguments.h).
// Each of those runs and ends before the gateway would start, and never takes
// the single-instance lock, so it works beside a running gateway.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace brindlex {

enum class CommandKind { Gateway, Help, Version, Check, Accounts, AdminFingerprint, Unknown };

struct Command {
  CommandKind kind = CommandKind::Gateway;
  std::string argument;                // the argument not understood, for Unknown
  std::vector<std::string> arguments;  // every argument, for Accounts
};

Command ParseCommandLine(const std::vector<std::string>& arguments);

// Runs a command other than Gateway with the settings file at `settingsPath`,
// writing to `out` and `err`. Returns the exit code: 0 done (and for --check,
// no problem), 1 a problem found, the file unreadable or a change refused, 2 a
// command line not understood. Accounts commands and --admin-fingerprint act
// on the program folder, which must be set.
int RunCommand(const Command& command, const std::string& settingsPath, std::FILE* out, std::FILE* err);

}  // namespace brindlex
