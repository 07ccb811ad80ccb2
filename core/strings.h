// The program's numbered string table: every user-interface text and every
// protocol reply, by number. Immutable; safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace brindlex {

// The text of a string, or "" when the table has no such number.
const char* StrC(int id);
std::string Str(int id);
// The text of a string with its "%s" places filled in order (at most three;
// a place without a value takes ""); the result is cut at 4 KB.
std::string StrWith(int id, const std::string& first, const std::string& second = {}, const std::string& third = {});

// The Russian form a noun takes after the number `count`: 0 for one
// (1, 21, 101: "пользователь"), 1 for a few (2-4, 22-24: "пользователя"),
// 2 for many (0, 5-20, 25-30, 111-114: "пользователей").
int RussianPluralForm(std::int64_t count);
// String oneId, oneId + 1 or oneId + 2 of the table, by RussianPluralForm of
// `count`: the three forms of one noun are kept under consecutive numbers.
std::string StrForCount(std::int64_t count, int oneId);

}  // namespace brindlex
