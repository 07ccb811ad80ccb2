// The accounts commands carried out: the program folder's settings, groups,
// users and subscriptions are loaded as start-up loads them (nothing is
// started, no log line written, no instance lock taken), the configuration
// editor's operation runs with its own checks, and a gateway running on the
// same folder is told to re-read the file (SIGHUP to the holder of the
// instance lock).
//
// Exit codes: 0 done (or listed); 1 refused (the editor's or the command's
// message on `err`; the settings file is left as it was).
#pragma once

#include <cstdio>

#include "app/account_arguments.h"

namespace brindlex {

// Runs the command on the settings file of the program folder, which must be
// set (SetProgramFolder).
int RunAccountCommand(const AccountCommand& command, std::FILE* out, std::FILE* err);

}  // namespace brindlex
