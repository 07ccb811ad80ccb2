// The program's numbered string table: every user-interface text and every
// protocol reply, by number. Immutable; safe from any thread.
#pragma once

#include <string>

namespace brindlex {

// The text of a string, or "" when the table has no such number.
const char* StrC(int id);
std::string Str(int id);

}  // namespace brindlex
