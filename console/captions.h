// Window captions kept as "#" and a number are replaced by that string of the
// string table when a window is built, so every text a window shows comes
// from the one table.
#pragma once

#include <string>
#include <string_view>

namespace brindlex {

// The string of the number after "#" ("#50" -> Str(50)); any other text,
// "#" without a number included, unchanged.
std::string LocalisedCaption(std::string_view caption);

}  // namespace brindlex
