// The program's numbered string table: every user-interface text and every
// protocol reply, by number. Immutable; safe from any thread.
#pragma once

#include <string>

namespace brindlex {

// The text of a string, or "" when the table has no such number.
const char* StrC(int id);
std::string Str(int id);
// The text of a string with its "%s" places filled in order (at most three;
// a place without a value takes ""); the result is cut at 4 KB.
std::string StrWith(int id, const std::string& first, const std::string& second = {}, const std::string& third = {});

}  // namespace brindlex
