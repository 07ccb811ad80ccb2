// The whole check of a settings file, as `--check` prints it and as the
// monitor shows it at start-up and after each reload: the keys, accounts and
// addresses (core/config_check.h) and the port-mapping rules
// (portmap/port_map_check.h), in file order.
#pragma once

#include <string>
#include <vector>

#include "core/config_check.h"

namespace brindlex {

// False when the file cannot be read.
bool CheckSettingsFile(const std::string& path, std::vector<ConfigProblem>& problems);

}  // namespace brindlex
