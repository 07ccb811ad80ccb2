// The journal of open sessions. A session's traffic and time reach the
// session log only when the session closes (or at midnight), so without this
// a crash would lose everything a day-long tunnel carried. Every few seconds
// the main timer writes, for each open session, the line it would get if it
// closed now into one small file (a temporary file renamed over the old one,
// so a crash leaves the old or the new journal, never half). A clean shutdown
// writes the real lines and removes the journal; finding one at start-up
// means the last run ended without that, and its lines go into the session
// logs, marked as recovered, before the counters are rebuilt.
//
// Threads: main thread. Building the text takes the accounts lock; writing the
// file happens after it is released.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brindlex {

// "Logging/Brindlex.jnl" in the program folder.
std::string SessionJournalPath();

// The field a recovered line carries after the usual ten.
inline constexpr std::string_view kRecoveredMark = "recovered";

struct JournalEntry {
  std::string logName;  // "dd-mm-yy-Brindlex.lgs"
  std::string line;     // the session line, without CR LF
};

// The journal's text: one "logName|line" per open, stamped session. Caller
// holds the accounts lock.
std::string SessionJournalTextLocked();

// The entries of a journal text. Bounded and strict, as for any file that
// may have been damaged: lines over kMaxJournalLine bytes, lines without a
// valid session log name, names with a path, and entries past
// kMaxJournalEntries are skipped.
inline constexpr size_t kMaxJournalLine = 4096;
inline constexpr size_t kMaxJournalEntries = 100'000;
std::vector<JournalEntry> ParseSessionJournal(std::string_view text);

// Writes the journal when its text differs from the one last written. False
// when it could not be written (the old journal stays).
bool WriteSessionJournal();

// At start-up, with the Logging folder present and before the counters are
// rebuilt: appends every entry of a journal left behind to its session log,
// marked recovered, then removes the journal. Returns how many lines it wrote.
size_t RecoverSessionJournal();

// After a clean shutdown has written every open session's line.
void RemoveSessionJournal();

}  // namespace brindlex
