#include "http/user_macros.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "core/clock.h"
#include "core/counter_rebuild.h"
#include "core/display_forms.h"
#include "core/log_files.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/strings.h"
#include "http/template.h"

namespace brindlex {

namespace {

constexpr int kFirstDayName = 455;  // "Пн" ... "Вс"

double Minutes(std::int64_t milliseconds) { return static_cast<double>(milliseconds / 1000) / 60.0; }

double Megabytes(std::int64_t bytes) { return static_cast<double>(bytes) / static_cast<double>(BytesPerMb()); }

std::string Row(std::initializer_list<std::string> cells) {
  std::string row = "<tr>";
  for (const std::string& cell : cells) row += "<td>" + cell + "</td>";
  return row + "</tr>\n";
}

std::string FiguresRow(const std::string& first, const CounterBlock& block) {
  return Row({first, FormatMilliseconds(block.timeMs), FormatTraffic(block.outgoing), FormatTraffic(block.incoming),
              FormatMoney(block.money), FormatMoney(block.nationalMoney)});
}

std::int64_t Today() {
  std::tm now = LocalTm(ProgramClock().LocalNow());
  return LocalSeconds(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
}

}  // namespace

UserMacroTexts::UserMacroTexts(const UserRecord& user) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  user_ = user;
  if (user.group) groupSchedule_ = user.group->schedule;
  counted_ = CountedTraffic(user);
}

std::string UserMacroTexts::RestOf(double limit, double used) const {
  if (limit <= 0) return {};
  return FormatNumberText(std::max(0.0, limit - used));
}

std::string UserMacroTexts::ShareOf(double limit, double used) const {
  if (limit <= 0) return {};
  return std::to_string(static_cast<long long>(std::floor(std::max(0.0, used) * 100.0 / limit)));
}

std::string UserMacroTexts::ScheduleTable() const {
  std::string hours = "<td></td>";
  for (int hour = 0; hour < kScheduleHoursPerDay; ++hour) hours += "<td>" + std::to_string(hour) + "</td>";
  std::string table = "<tr>" + hours + "</tr>\n";
  for (int day = 0; day < kScheduleDays; ++day) {
    table += "<tr><td>" + Str(kFirstDayName + day) + "</td>";
    for (int hour = 0; hour < kScheduleHoursPerDay; ++hour)
      // The group's schedule binds the user too (as the access check has it).
      table += ScheduleAllows(user_.schedule, day, hour) && ScheduleAllows(groupSchedule_, day, hour) ? "<td>+</td>"
                                                                                                      : "<td></td>";
    table += "</tr>\n";
  }
  return table;
}

std::string UserMacroTexts::DaysTable() const {
  // Closed sessions are in the day's log; today's figures in memory also
  // hold the sessions still open.
  const std::int64_t today = Today();
  std::string table;
  for (std::int64_t day : BillingMonthDays(today, BillingDay(*Settings()))) {
    CounterBlock figures;
    if (day == today) {
      figures = user_.dayCounters;
    } else {
      ReadSessionLog(SessionLogPath(day), [&](std::string_view line) {
        SessionLogEntry entry;
        if (ParseSessionLogLine(line, entry) && EqualsNoCase(entry.login, user_.login))
          AddCounters(figures, entry.values);
      });
    }
    if (figures == CounterBlock{}) continue;
    std::tm date = LocalTm(day);
    char text[32];
    std::snprintf(text, sizeof(text), "%02d.%02d.%04d", date.tm_mday, date.tm_mon + 1, date.tm_year + 1900);
    table += FiguresRow(text, figures);
  }
  return table;
}

std::string UserMacroTexts::Text(UserMacro macro) const {
  const AccessRules& rules = user_.rules;
  const CounterBlock& day = user_.dayCounters;
  const CounterBlock& month = user_.monthCounters;
  switch (macro) {
    case UserMacro::Name:
      return HtmlEscape(user_.name);
    case UserMacro::Login:
      return HtmlEscape(user_.login);
    case UserMacro::RestDoc:
      return RestOf(rules.maxDocumentMb, 0);
    case UserMacro::RestDayTime:
      return RestOf(rules.dayMinutes, Minutes(day.timeMs));
    case UserMacro::RestDayMb:
      return RestOf(rules.dayMb, Megabytes(counted_.day));
    case UserMacro::RestMonTime:
      return RestOf(rules.monthMinutes, Minutes(month.timeMs));
    case UserMacro::RestMonMb:
      return RestOf(rules.monthMb, Megabytes(counted_.month));
    case UserMacro::RestSpeedNorm:
      return RestOf(rules.speedNormal, 0);
    case UserMacro::RestSpeedEx:
      // 0 is a rule of its own here: refused after a limit, not unlimited.
      return FormatNumberText(rules.speedExceeded);
    case UserMacro::TableWorkTime:
      return ScheduleTable();
    case UserMacro::StatDayTime:
      return FormatMilliseconds(day.timeMs);
    case UserMacro::StatDaySend:
      return FormatTraffic(day.outgoing);
    case UserMacro::StatDayReceived:
      return FormatTraffic(day.incoming);
    case UserMacro::StatDayMoneyC:
      return FormatMoney(day.money);
    case UserMacro::StatDayMoneyR:
      return FormatMoney(day.nationalMoney);
    case UserMacro::StatMonTime:
      return FormatMilliseconds(month.timeMs);
    case UserMacro::StatMonSend:
      return FormatTraffic(month.outgoing);
    case UserMacro::StatMonReceived:
      return FormatTraffic(month.incoming);
    case UserMacro::StatMonMoneyC:
      return FormatMoney(month.money);
    case UserMacro::StatMonMoneyR:
      return FormatMoney(month.nationalMoney);
    case UserMacro::TableStatDays:
      return DaysTable();
    case UserMacro::ShareDayMb:
      return ShareOf(rules.dayMb, Megabytes(counted_.day));
    case UserMacro::ShareDayTime:
      return ShareOf(rules.dayMinutes, Minutes(day.timeMs));
    case UserMacro::ShareMonMb:
      return ShareOf(rules.monthMb, Megabytes(counted_.month));
    case UserMacro::ShareMonTime:
      return ShareOf(rules.monthMinutes, Minutes(month.timeMs));
  }
  return {};
}

}  // namespace brindlex
