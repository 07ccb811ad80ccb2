// The main window's status bar text.
#pragma once

#include <string>

#include "console/console_engine.h"

namespace brindlex {

// "n users, m connections." and, while the program-wide speed history has
// data, its average over the last five minutes.
std::string StatusBarText(const StatusFigures& figures, const SpeedSlots& programSpeed);

}  // namespace brindlex
