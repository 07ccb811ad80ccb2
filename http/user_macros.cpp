#include "http/user_macros.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "core/clock.h"
#include "core/counter_rebuild.h"
#include "core/date_time.h"
#include "core/display_forms.h"
#include "core/log_files.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/settings.h"
#include "core/strings.h"
#include "http/template.h"
#include "stats/statistics.h"

namespace brindlex {

namespace {

constexpr int kFirstDayName = 455;  // "Пн" ... "Вс"

// A limit as the pages show it: its shortest decimal form, 0 for none.
std::string Limit(double value) { return FormatNumberText(value, 9); }

double Minutes(std::int64_t milliseconds) { return static_cast<double>(milliseconds / 1000) / 60.0; }

double Megabytes(std::int64_t bytes) { return static_cast<double>(bytes) / static_cast<double>(BytesPerMb()); }

}  // namespace

UserMacroTexts::UserMacroTexts(const UserRecord& user) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  user_ = user;
  if (user.group) groupSchedule_ = user.group->schedule;
  counted_ = CountedTraffic(user);
}

std::string UserMacroTexts::ShareOf(double limit, double used) const {
  if (limit <= 0) return {};
  return std::to_string(static_cast<long long>(std::floor(std::max(0.0, used) * 100.0 / limit)));
}

std::string UserMacroTexts::ScheduleTable() const {
  // Rows and cells are opened and never closed: the table as pages written
  // for it expect it.
  std::string table = "<tr><td>";
  for (int hour = 0; hour < kScheduleHoursPerDay; ++hour) table += "<td>" + std::to_string(hour);
  for (int day = 0; day < kScheduleDays; ++day) {
    table += "<tr><td>" + Str(kFirstDayName + day);
    for (int hour = 0; hour < kScheduleHoursPerDay; ++hour)
      // The group's schedule binds the user too (as the access check has it).
      table +=
          ScheduleAllows(user_.schedule, day, hour) && ScheduleAllows(groupSchedule_, day, hour) ? "<td>+" : "<td>-";
  }
  return table;
}

std::string UserMacroTexts::DaysTable() const {
  // The accounting month so far, from the session logs: the same figures the
  // console's statistics show for the user, overhead added as there.
  const std::vector<std::int64_t> days = BillingMonthDays(ProgramClock().LocalNow(), BillingDay(*Settings()));
  StatisticsQuery query;
  query.subject = StatisticsSubject::kUser;
  query.login = user_.login;
  query.start = LocalSecondsToDateTime(days.front());
  query.end = LocalSecondsToDateTime(days.back());
  query.byDays = true;
  std::string table = "<tr><td>" + Str(478) + "</td><td>" + Str(479) + "</td><td>" + Str(480) + " </td><td>" +
                      Str(481) + " </td><td>" + Str(482) + " </td></tr>";
  const auto traffic = [](std::uint64_t bytes) {
    return FormatTraffic(static_cast<std::int64_t>(bytes), TrafficUnit::KbAndMb, true);
  };
  for (const StatisticsRow& row : BuildStatistics(query, LoggingFolder())) {
    table += "<tr><td>" + HtmlEscape(row.label) + "<td>" + FormatMilliseconds(static_cast<std::int64_t>(row.timeMs)) +
             "<td>" + traffic(row.sent) + "<td>" + traffic(row.received) + "<td>" + FormatNumberText(row.rating);
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
      return Limit(rules.maxDocumentMb);
    case UserMacro::RestDayTime:
      return Limit(rules.dayMinutes);
    case UserMacro::RestDayMb:
      return Limit(rules.dayMb);
    case UserMacro::RestMonTime:
      return Limit(rules.monthMinutes);
    case UserMacro::RestMonMb:
      return Limit(rules.monthMb);
    case UserMacro::RestSpeedNorm:
      return Limit(rules.speedNormal);
    case UserMacro::RestSpeedEx:
      return Limit(rules.speedExceeded);
    case UserMacro::TableWorkTime:
      return ScheduleTable();
    case UserMacro::StatDayTime:
      return FormatMilliseconds(day.timeMs);
    case UserMacro::StatDaySend:
      return FormatTraffic(day.outgoing, TrafficUnit::KbAndMb, true);
    case UserMacro::StatDayReceived:
      return FormatTraffic(day.incoming, TrafficUnit::KbAndMb, true);
    case UserMacro::StatDayMoneyC:
      return FormatMoney(day.money);
    case UserMacro::StatDayMoneyR:
      return FormatMoney(day.nationalMoney);
    case UserMacro::StatMonTime:
      return FormatMilliseconds(month.timeMs);
    case UserMacro::StatMonSend:
      return FormatTraffic(month.outgoing, TrafficUnit::KbAndMb, true);
    case UserMacro::StatMonReceived:
      return FormatTraffic(month.incoming, TrafficUnit::KbAndMb, true);
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
