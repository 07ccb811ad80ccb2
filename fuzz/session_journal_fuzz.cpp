// The session journal is read back at start-up after a crash: whatever a
// damaged file holds must parse within bounds and yield only entries that
// name a session log of the Logging folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/session_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const brindlex::JournalEntry& entry : brindlex::ParseSessionJournal(text)) {
    if (entry.logName.find('/') != std::string::npos || entry.line.size() > brindlex::kMaxJournalLine ||
        entry.line.find('\n') != std::string::npos)
      std::abort();
  }
  return 0;
}
