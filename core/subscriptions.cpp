#include "core/subscriptions.h"

#include <cmath>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "core/accounting.h"
#include "core/clock.h"
#include "core/file_io.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();

// Orders the subscription writes of apply, close and the periodic save: each
// takes this before the accounts lock and keeps it until its file write is
// done, so a save that copied a ticket cannot write that copy after a newer
// apply or close has reached the file.
std::mutex& StoreMutex() {
  static std::mutex mutex;
  return mutex;
}

std::int64_t Clamp128(__int128 value) {
  if (value > kInt64Max) return kInt64Max;
  if (value < kInt64Min) return kInt64Min;
  return static_cast<std::int64_t>(value);
}

// limit - used, never landing on the mark that means "no limit".
std::int64_t RemainingAmount(std::int64_t limit, std::int64_t used) {
  if (limit == 0) return kUnlimitedAmount;
  std::int64_t rest = Clamp128(static_cast<__int128>(limit) - used);
  return rest == kUnlimitedAmount ? rest + 1 : rest;
}

bool UsedUp(std::int64_t limit, std::int64_t used) { return limit != 0 && used >= limit; }

std::string FormatCounter(std::int64_t value) { return std::to_string(value); }

// One entered value as a counter amount: value x scale, truncated. Negative
// amounts and amounts beyond 64 bits have no meaning as a grant.
bool AmountFromValue(double value, double scale, std::int64_t& amount) {
  double product = value * scale;
  if (!std::isfinite(product) || product < 0 || product >= 9.2e18) return false;
  amount = static_cast<std::int64_t>(product);
  return true;
}

EditOutcome ConversionFailure(const std::string& fieldText) {
  return {false, Str(780), "\"" + fieldText + "\"- " + Str(782)};
}

std::int64_t* CounterAt(CounterBlock& block, int index) {
  switch (index) {
    case 0:
      return &block.outgoing;
    case 1:
      return &block.incoming;
    case 2:
      return &block.timeMs;
    case 3:
      return &block.money;
    default:
      return &block.nationalMoney;
  }
}

std::string MonitorText(std::string_view event, std::string_view login, double now) {
  std::string date = FormatTicketDate(now);
  // The log's date form ends with its field separator; a monitor line does not.
  if (date.size() >= 2) date.resize(date.size() - 2);
  return std::string(event) + ", " + std::string(login) + ", " + date;
}

bool StoreTicket(const std::string& login, const TicketRecord& ticket) {
  if (!ticket.open) return IniDeleteKey(SettingsPath(), kTicketSection, login);
  return IniWriteString(SettingsPath(), kTicketSection, login, FormatTicket(ticket));
}

}  // namespace

std::string FormatTicketDate(double dateTime) {
  std::tm tm = LocalTm(DateTimeToLocalSeconds(dateTime));
  char buffer[48];
  std::snprintf(buffer, sizeof(buffer), "%02d/%02d/%02d, %02d:%02d:%02d, ", tm.tm_mday, tm.tm_mon + 1,
                (tm.tm_year + 1900) % 100, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buffer;
}

std::string FormatTicket(const TicketRecord& t) {
  return JoinRecord({std::to_string(t.number), FormatNumberText(t.openedAt, 4), FormatNumberText(t.changedAt, 4),
                     FormatCounter(t.limit.outgoing), FormatCounter(t.limit.incoming), FormatCounter(t.limit.timeMs),
                     FormatCounter(t.limit.money), FormatCounter(t.limit.nationalMoney), FormatCounter(t.used.outgoing),
                     FormatCounter(t.used.incoming), FormatCounter(t.used.timeMs), FormatCounter(t.used.money),
                     FormatCounter(t.used.nationalMoney)});
}

TicketRecord ParseTicket(std::string_view stored) {
  // Walk the fields once instead of rescanning from the start for each.
  std::string_view fields[13];
  size_t pos = 0;
  for (int i = 0; i < 13 && pos <= stored.size(); ++i) {
    size_t end = stored.find(';', pos);
    if (end == std::string_view::npos) end = stored.size();
    fields[i] = Trim(stored.substr(pos, end - pos));
    pos = end + 1;
  }
  auto integer = [&](int i) { return ParseIntPrefix(fields[i]); };
  auto date = [&](int i) {
    double value = ParseRealPrefix(fields[i]);
    return value >= kMinDateTime && value <= kMaxDateTime && value != 0 ? value : 0.0;
  };

  TicketRecord t;
  t.open = true;
  std::int64_t number = integer(0);
  t.number = number >= INT32_MIN && number <= INT32_MAX ? static_cast<std::int32_t>(number) : 0;
  t.openedAt = date(1);
  t.changedAt = date(2);
  t.limit.outgoing = integer(3);
  t.limit.incoming = integer(4);
  t.limit.timeMs = integer(5);
  t.limit.money = integer(6);
  t.limit.nationalMoney = integer(7);
  t.used.outgoing = integer(8);
  t.used.incoming = integer(9);
  t.used.timeMs = integer(10);
  t.used.money = integer(11);
  t.used.nationalMoney = integer(12);
  return t;
}

void ReadSubscription(UserRecord& user, const IniDocument& document) {
  user.ticket = TicketRecord{};
  const std::string* value = FindValue(document, kTicketSection, user.login);
  if (!value) return;
  std::string_view text(*value);
  text = Trim(text.substr(0, kTicketValueMax));
  if (!text.empty()) user.ticket = ParseTicket(text);
}

void ReadSubscription(UserRecord& user, const std::string& path) {
  user.ticket = TicketRecord{};
  if (user.login.empty()) return;
  std::string value = IniReadString(path, kTicketSection, user.login, "", kTicketValueMax);
  if (!Trim(value).empty()) user.ticket = ParseTicket(value);
}

void ReadAllSubscriptions(const IniDocument& document) {
  for (auto& user : Users()) ReadSubscription(*user, document);
}

bool WriteSubscription(const UserRecord& user) { return StoreTicket(user.login, user.ticket); }

int SaveAllSubscriptions() {
  std::lock_guard<std::mutex> store(StoreMutex());
  std::vector<std::pair<std::string, std::string>> values;
  {
    std::lock_guard<std::mutex> accounts(AccountsLock());
    for (const auto& user : Users())
      if (!user->deleted && user->rules.prepaid && user->ticket.open && !user->login.empty())
        values.emplace_back(user->login, FormatTicket(user->ticket));
  }
  if (values.empty()) return 0;
  // Each write rewrites the whole file; skip the values it already holds.
  IniDocument current = LoadIniFile(SettingsPath());
  int written = 0;
  for (const auto& [login, value] : values) {
    const std::string* stored = FindValue(current, kTicketSection, login);
    if (stored && *stored == value) continue;
    if (IniWriteString(SettingsPath(), kTicketSection, login, value)) ++written;
  }
  return written;
}

bool SubscriptionTest(const UserRecord& user) {
  if (!user.rules.prepaid) return true;
  const TicketRecord& t = user.ticket;
  if (!t.open) return false;
  int percent = Settings()->CorrectTraffic;
  return !UsedUp(t.limit.outgoing, CorrectedTraffic(t.used.outgoing, percent)) &&
         !UsedUp(t.limit.incoming, CorrectedTraffic(t.used.incoming, percent)) &&
         !UsedUp(t.limit.timeMs, t.used.timeMs) && !UsedUp(t.limit.money, t.used.money) &&
         !UsedUp(t.limit.nationalMoney, t.used.nationalMoney);
}

CounterBlock Remaining(const UserRecord& user) {
  const TicketRecord& t = user.ticket;
  int percent = Settings()->CorrectTraffic;
  CounterBlock rest;
  rest.timeMs = RemainingAmount(t.limit.timeMs, t.used.timeMs);
  rest.outgoing = RemainingAmount(t.limit.outgoing, CorrectedTraffic(t.used.outgoing, percent));
  rest.incoming = RemainingAmount(t.limit.incoming, CorrectedTraffic(t.used.incoming, percent));
  rest.money = RemainingAmount(t.limit.money, t.used.money);
  rest.nationalMoney = RemainingAmount(t.limit.nationalMoney, t.used.nationalMoney);
  return rest;
}

std::string FormatTicketLogLine(std::string_view event, std::string_view login, double now, const TicketRecord& t) {
  std::string line;
  line.reserve(320);
  line.append(event).append(", ").append(login).append(", ");
  line += FormatTicketDate(now);
  line += FormatTicketDate(t.openedAt);
  line += FormatTicketDate(t.changedAt);
  // The two money limits are followed by a bare comma, the other fields by
  // comma and blank; readers of existing logs expect exactly this.
  line += FormatCounter(t.limit.outgoing) + ", " + FormatCounter(t.limit.incoming) + ", " +
          FormatCounter(t.limit.timeMs) + ", " + FormatCounter(t.limit.money) + "," +
          FormatCounter(t.limit.nationalMoney) + ",";
  line += FormatCounter(t.used.outgoing) + ", " + FormatCounter(t.used.incoming) + ", " + FormatCounter(t.used.timeMs) +
          ", " + FormatCounter(t.used.money) + ", " + FormatCounter(t.used.nationalMoney) + ", ";
  line += "\r\n";
  return line;
}

std::string TicketLogPath() { return LoggingFolder() + "/Brindlex.lgt"; }

bool AppendTicketLog(const std::string& line) { return AppendToFile(TicketLogPath(), line); }

SubscriptionOutcome ApplySubscription(UserRecord& user, TicketEntry& entry, bool editDirectly) {
  SubscriptionOutcome outcome;
  std::string* texts[5] = {&entry.outgoingMb, &entry.incomingMb, &entry.minutes, &entry.money, &entry.nationalMoney};
  const double mb = 1024.0 * Settings()->KbPerMb;
  const double scales[5] = {mb, mb, 60.0 * 1000.0, mb * 1000.0, mb * 1000.0};
  std::int64_t amounts[5] = {};
  for (int i = 0; i < 5; ++i) {
    if (Trim(*texts[i]).empty()) *texts[i] = "0";
    double value = 0;
    if (!ParseWholeReal(*texts[i], value) || !AmountFromValue(value, scales[i], amounts[i])) {
      outcome.edit = ConversionFailure(*texts[i]);
      return outcome;
    }
  }

  std::lock_guard<std::mutex> store(StoreMutex());
  bool wasOpen = false;
  {
    std::lock_guard<std::mutex> accounts(AccountsLock());
    wasOpen = user.ticket.open;
    // A top-up that would carry a limit past 64 bits is refused before
    // anything changes, like an entry that does not convert.
    for (int i = 0; i < 5 && wasOpen && !editDirectly; ++i) {
      std::int64_t sum = 0;
      if (__builtin_add_overflow(*CounterAt(user.ticket.limit, i), amounts[i], &sum)) {
        outcome.edit = ConversionFailure(*texts[i]);
        return outcome;
      }
    }
  }

  double now = DateTimeNow();
  std::int32_t number = 0;
  if (!wasOpen) number = static_cast<std::int32_t>(NextTicketId());

  TicketRecord written;
  std::string login;
  {
    std::lock_guard<std::mutex> accounts(AccountsLock());
    TicketRecord& t = user.ticket;
    if (!wasOpen) {
      t.open = true;
      t.number = number;
      t.openedAt = now;
    }
    t.changedAt = now;
    if (editDirectly) t.limit = CounterBlock{};
    for (int i = 0; i < 5; ++i) {
      std::int64_t* limit = CounterAt(t.limit, i);
      *limit = Clamp128(static_cast<__int128>(*limit) + amounts[i]);
    }
    written = t;
    login = user.login;
  }
  StoreTicket(login, written);

  outcome.event = wasOpen ? kAddTicketEvent : kOpenTicketEvent;
  AppendTicketLog(FormatTicketLogLine(outcome.event, login, now, written));
  outcome.monitorText = MonitorText(outcome.event, login, now);
  return outcome;
}

SubscriptionOutcome CloseSubscription(UserRecord& user) {
  SubscriptionOutcome outcome;
  std::lock_guard<std::mutex> store(StoreMutex());
  TicketRecord before;
  std::string login;
  {
    std::lock_guard<std::mutex> accounts(AccountsLock());
    if (!user.ticket.open) return outcome;
    before = user.ticket;
    login = user.login;
    user.ticket = TicketRecord{};
  }
  double now = DateTimeNow();
  outcome.event = kCloseTicketEvent;
  AppendTicketLog(FormatTicketLogLine(outcome.event, login, now, before));
  IniDeleteKey(SettingsPath(), kTicketSection, login);
  outcome.monitorText = MonitorText(outcome.event, login, now);
  return outcome;
}

}  // namespace brindlex
