// The configuration's plausible mistakes, named where they stand: a port that
// is not a port, an address list entry nobody can read, a key the program does
// not know (a misspelling is silently a default otherwise), a section line
// without its bracket, a user or group line that lost or gained fields, a user
// who can never connect, a login user whose password is empty (any password
// would do). Nothing here changes the file or the running settings.
//
// Threads: pure functions over the file's text; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindlex {

struct ConfigProblem {
  int line = 0;         // 1-based line of the file
  std::string section;  // as written in the file; for a malformed section line, that line
  std::string key;      // the key, or empty for a section line
  std::string message;
};

// One key line of a settings file, with where it stands.
struct ConfigKeyLine {
  int line = 0;
  std::string section;  // as written
  std::string key;      // trimmed
  std::string value;    // trimmed
};

// The key lines of a settings file's text in file order; each section line
// without its closing bracket is added to `sectionProblems` (its keys stay in
// the section before it, as the reader takes them).
std::vector<ConfigKeyLine> ReadConfigKeyLines(std::string_view text, std::vector<ConfigProblem>& sectionProblems);

// What the check says of one key of section "System" holding `value` (as
// the file would hold it): no text when the value passes. The editor refuses
// a value with these very words, so that it stores nothing the check reports.
std::vector<std::string> CheckSystemValue(std::string_view key, std::string_view value);

// Every problem of a settings file's text, in file order.
std::vector<ConfigProblem> CheckConfiguration(std::string_view text);

// "a.b.c.d:port" with a port from 1 to 65535 and an address in digits (a name
// would need a lookup at start-up, which may hang or change under the
// gateway). False for anything else, the empty text included.
bool ParseAddressAndPort(std::string_view text, std::uint32_t& address, int& port);

// "Brindlex.ini:12: [System] HttpPort: <message>", or for a section line
// "Brindlex.ini:3: [System: <message>".
std::string FormatConfigProblem(std::string_view fileName, const ConfigProblem& problem);

}  // namespace brindlex
