// Re-reading the accounts of the settings file while the gateway runs (SIGHUP):
// groups and users are added, changed and removed as the file says, and the
// global filters replaced.
//
// Workers hold pointers to user records (through their sessions) without the
// accounts lock between passes, so a user record is never freed: a user the
// file no longer has is marked deleted, which ends his connections at their
// next continuing check exactly as disabling him does, and a user who comes
// back takes his record again. Whatever a record carries beyond its stored
// fields (counters, subscription, sessions, speed history) stays with it.
//
// Threads: main thread. Takes the accounts lock; the caller must not hold it.
#pragma once

#include "core/account_source.h"

namespace brindlex {

// Applies the groups, users and global filters of `source` (both documents are
// the parsed settings file). Old filter lists are converted in the settings
// document as at start-up; the caller saves it when settingsChanged is set.
void ReloadAccounts(AccountSource& source);

}  // namespace brindlex
