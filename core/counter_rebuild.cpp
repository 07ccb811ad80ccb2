#include "core/counter_rebuild.h"

#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "core/chars.h"
#include "core/clock.h"
#include "core/log_files.h"
#include "core/log_lines.h"
#include "core/process_state.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/users.h"

namespace brindlex {

namespace {

constexpr std::int64_t kDay = 86400;

std::int64_t DateOf(std::int64_t localSeconds) { return localSeconds - ((localSeconds % kDay) + kDay) % kDay; }

// Reads a signed decimal number; stops at the first non-digit.
std::int64_t FastInt(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]) && i < 20; ++i) value = value * 10 + (text[i] - '0');
  // Unsigned arithmetic: a hostile line must not overflow a signed value.
  return static_cast<std::int64_t>(negative ? 0 - value : value);
}

std::int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

// Finds users by login quickly while a rebuild adds up many thousand lines.
class UserIndex {
 public:
  UserIndex() {
    for (auto& user : Users()) index_.emplace(LowerCase(user->login), user.get());
  }
  UserRecord* Find(std::string_view login) {
    if (last_ && login == lastLogin_) return last_;
    // The key is lowered in a buffer of its own: a month of lines must not
    // cost an allocation each.
    key_.assign(login);
    for (char& c : key_) c = Lower(c);
    auto it = index_.find(key_);
    UserRecord* user = it != index_.end() ? it->second : FindOrCreateUser(login);
    if (user && it == index_.end()) index_.emplace(key_, user);
    last_ = user;
    lastLogin_.assign(login);
    return user;
  }

 private:
  std::unordered_map<std::string, UserRecord*> index_;
  UserRecord* last_ = nullptr;
  std::string lastLogin_;
  std::string key_;
};

}  // namespace

std::vector<std::int64_t> DaysBetween(std::int64_t first, std::int64_t last) {
  std::vector<std::int64_t> days;
  for (std::int64_t day = DateOf(first); day <= DateOf(last) && days.size() < 3700; day += kDay) days.push_back(day);
  return days;
}

std::vector<std::int64_t> BillingMonthDays(std::int64_t today, int billingDay) {
  std::tm now = LocalTm(today);
  int year = now.tm_year + 1900;
  int month = now.tm_mon + 1;
  if (now.tm_mday < billingDay && --month == 0) {
    month = 12;
    --year;
  }
  return DaysBetween(LocalSeconds(year, month, billingDay), today);
}

bool ParseSessionLogLine(std::string_view line, SessionLogEntry& entry) {
  // Field boundaries in one pass: fields 1 and 5..9 are needed.
  std::string_view fields[10];
  size_t start = 0;
  int n = 0;
  // A field ends at a CR or LF of its own; the line is searched for them
  // once, not field by field.
  size_t lineBreak = line.find_first_of("\r\n");
  while (n < 10) {
    size_t comma = line.find(',', start);
    size_t end = comma == std::string_view::npos ? line.size() : comma;
    while (lineBreak < start) lineBreak = line.find_first_of("\r\n", lineBreak + 1);
    std::string_view field = line.substr(start, std::min(end, lineBreak) - start);
    while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
    fields[n++] = field;
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (n < 2 || fields[1].empty()) return false;
  entry.login = UnescapeField(fields[1], entry.unescapedLogin);
  entry.values.timeMs = FastInt(fields[5]);
  entry.values.incoming = FastInt(fields[6]);
  entry.values.outgoing = FastInt(fields[7]);
  entry.values.money = FastInt(fields[8]);
  entry.values.nationalMoney = FastInt(fields[9]);
  return true;
}

void RebuildCounters(RebuildMode mode, std::int64_t today, std::int64_t intervalFirst, std::int64_t intervalLast,
                     const std::function<void(const RebuildProgress&)>& progress) {
  std::vector<std::int64_t> days;
  switch (mode) {
    case RebuildMode::BillingMonth:
      days = BillingMonthDays(today, BillingDay(*Settings()));
      break;
    case RebuildMode::Today:
      days = DaysBetween(today, today);
      break;
    case RebuildMode::Interval:
      days = DaysBetween(intervalFirst, intervalLast);
      break;
  }
  RebuildProgress shown;
  for (std::int64_t day : days) shown.allSize += std::max<std::int64_t>(0, FileSize(SessionLogPath(day)));

  // The interval rebuild only fills the console's own period blocks; it takes
  // the lock too, so that it never reads a user table being changed.
  std::lock_guard<std::mutex> lock(AccountsLock());
  for (auto& user : Users()) {
    if (mode == RebuildMode::BillingMonth) user->monthCounters = CounterBlock{};
    if (mode != RebuildMode::Interval) user->dayCounters = CounterBlock{};
    if (mode == RebuildMode::Interval) user->periodCounters = CounterBlock{};
  }
  UserIndex index;
  const std::int64_t todayDate = DateOf(today);
  for (std::int64_t day : days) {
    std::string path = SessionLogPath(day);
    shown.file = path;
    shown.fileSize = std::max<std::int64_t>(0, FileSize(path));
    const std::int64_t before = shown.allDone;
    bool isToday = day == todayDate;
    // A session line is written whole or not at all: a longer line, or one
    // without its LF, means the file is damaged from there on.
    bool read = ReadLogLines(
        path, LogLineRules{},
        [&](std::string_view line) {
          SessionLogEntry entry;
          if (!ParseSessionLogLine(line, entry)) return;
          UserRecord* user = index.Find(entry.login);
          if (!user) return;
          if (mode == RebuildMode::BillingMonth) {
            AddCounters(user->monthCounters, entry.values);
            if (isToday) AddCounters(user->dayCounters, entry.values);
          } else if (mode == RebuildMode::Today) {
            AddCounters(user->dayCounters, entry.values);
          } else {
            AddCounters(user->periodCounters, entry.values);
          }
        },
        [&](std::int64_t bytes) {
          shown.fileDone = bytes;
          shown.allDone = before + bytes;
          if (progress) progress(shown);
        });
    if (!read && Flags().shutdown) return;
  }
  if (mode == RebuildMode::Interval) return;
  for (auto& record : SessionListLocked())
    for (auto& session : record->userSessions) {
      AddCounters(session->user->dayCounters, session->counters);
      if (mode == RebuildMode::BillingMonth) AddCounters(session->user->monthCounters, session->counters);
    }
}

}  // namespace brindlex
