// Accounts for the settings file of a test's gateway, and the reload of that
// file while the gateway runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/ini_file.h"
#include "core/users.h"
#include "tests/integration/harness.h"

namespace brindlex::testing {

// A user identified by login and password, allowed at every hour.
UserRecord LoginUser(const std::string& login, const std::string& password);

// A user identified by his address alone, allowed at every hour.
UserRecord AddressUser(const std::string& address, const std::string& name);

// The [Groups] and [Users] sections (with filters) for these users.
std::string AccountSections(const std::vector<UserRecord>& users);

// Applies `edit` to the running gateway's Brindlex.ini, sends SIGHUP and
// waits until the gateway says it has read the file again; false when it did
// not say so in time.
bool EditAndReload(const ProxyGateway& gateway, const std::function<void(IniDocument&)>& edit);

}  // namespace brindlex::testing
