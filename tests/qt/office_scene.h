// A small office as the console would see it: two groups, five users with a
// month of figures, two addresses with sessions and connections, a cache of a
// few objects, monitor lines and a busy speed history. The widget tests and
// the screenshots show it.
#pragma once

#include <string>
#include <vector>

#include "tests/unit/console_fake_engine.h"

namespace brindlex::testing {

void FillOffice(FakeConsoleEngine& engine);
std::vector<std::string> OfficeMonitorLines();

}  // namespace brindlex::testing
