#include "core/session_journal.h"

#include <unistd.h>

#include <mutex>

#include "core/file_io.h"
#include "core/log_files.h"
#include "core/log_writer.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/sessions.h"

namespace brindlex {

namespace {

// The text last written; main thread only.
std::string& LastWritten() {
  static std::string text;
  return text;
}

std::string_view BaseName(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// "dd-mm-yy-Brindlex.lgs": digits where the date goes, nothing else.
bool IsSessionLogName(std::string_view name) {
  constexpr std::string_view kTail = "-Brindlex.lgs";
  if (name.size() != 8 + kTail.size() || name.substr(8) != kTail) return false;
  for (size_t i : {0, 1, 3, 4, 6, 7})
    if (name[i] < '0' || name[i] > '9') return false;
  return name[2] == '-' && name[5] == '-';
}

}  // namespace

std::string SessionJournalPath() { return LoggingFolder() + "/Brindlex.jnl"; }

std::string SessionJournalTextLocked() {
  std::string text;
  for (const auto& record : SessionListLocked())
    for (const auto& session : record->userSessions) {
      if (session->stamp == 0) continue;
      PendingLogLine line = SessionLineLocked(*record, *session);
      text.append(BaseName(line.path));
      text += '|';
      text += line.text;
      text += '\n';
    }
  return text;
}

std::vector<JournalEntry> ParseSessionJournal(std::string_view text) {
  std::vector<JournalEntry> entries;
  size_t pos = 0;
  while (pos < text.size() && entries.size() < kMaxJournalEntries) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();  // a last line without its end still counts
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.size() > kMaxJournalLine) continue;
    size_t bar = line.find('|');
    if (bar == std::string_view::npos) continue;
    std::string_view name = line.substr(0, bar);
    std::string_view sessionLine = line.substr(bar + 1);
    if (!IsSessionLogName(name) || sessionLine.empty() || sessionLine.find('\r') != std::string_view::npos) continue;
    entries.push_back({std::string(name), std::string(sessionLine)});
  }
  return entries;
}

bool WriteSessionJournal() {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    text = SessionJournalTextLocked();
  }
  if (text == LastWritten()) return true;
  if (!WriteFileAtomically(SessionJournalPath(), text)) return false;
  LastWritten() = std::move(text);
  return true;
}

size_t RecoverSessionJournal() {
  std::string text;
  if (!ReadFileBounded(SessionJournalPath(), kMaxJournalEntries * (kMaxJournalLine + 1), text)) return 0;
  size_t written = 0;
  for (const JournalEntry& entry : ParseSessionJournal(text)) {
    AppendLine(LoggingFolder() + "/" + entry.logName, entry.line + ", " + std::string(kRecoveredMark));
    ++written;
  }
  // Lines the disk refused wait in memory and are retried; the journal has
  // done its part either way and must not be replayed twice.
  RemoveSessionJournal();
  return written;
}

void RemoveSessionJournal() {
  ::unlink(SessionJournalPath().c_str());
  LastWritten().clear();
}

}  // namespace brindlex
