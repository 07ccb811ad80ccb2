#include "reports/report_template.h"

#include <sys/stat.h>

#include <ctime>
#include <memory>

#include "core/chars.h"
#include "core/clock.h"
#include "core/counter_rebuild.h"
#include "core/display_forms.h"
#include "core/file_io.h"
#include "core/program_folder.h"
#include "core/settings.h"
#include "core/users.h"

namespace brindlex {

namespace {

constexpr std::int64_t kDay = 86400;

enum class Macro {
  Login,
  DisplayName,
  StartDate,
  EndDate,
  CurrentDate,
  CurrentTime,
  TimeDay,
  TimeMonth,
  SendDayBytes,
  SendDayKb,
  SendDayMb,
  SendDay,
  SendMonthBytes,
  SendMonthKb,
  SendMonthMb,
  SendMonth,
  ReceivedDayBytes,
  ReceivedDayKb,
  ReceivedDayMb,
  ReceivedDay,
  ReceivedMonthBytes,
  ReceivedMonthKb,
  ReceivedMonthMb,
  ReceivedMonth,
  MoneyDay,
  MoneyMonth,
  NationalMoneyDay,
  NationalMoneyMonth,
  AdminName,
  AdminEmail,
};

struct MacroName {
  std::string_view name;
  Macro macro;
};

// The order counts: a longer name comes before a shorter one that starts it.
constexpr MacroName kMacros[] = {
    {"%LOGIN", Macro::Login},
    {"%DISPL_NAME", Macro::DisplayName},
    {"%START_DATE", Macro::StartDate},
    {"%END_DATE", Macro::EndDate},
    {"%CUR_DATE", Macro::CurrentDate},
    {"%CUR_TIME", Macro::CurrentTime},
    {"%TIME_DAY", Macro::TimeDay},
    {"%TIME_MONTH", Macro::TimeMonth},
    {"%SEND_DAY_BT", Macro::SendDayBytes},
    {"%SEND_DAY_KB", Macro::SendDayKb},
    {"%SEND_DAY_MB", Macro::SendDayMb},
    {"%SEND_DAY", Macro::SendDay},
    {"%SEND_MONTH_BT", Macro::SendMonthBytes},
    {"%SEND_MONTH_KB", Macro::SendMonthKb},
    {"%SEND_MONTH_MB", Macro::SendMonthMb},
    {"%SEND_MONTH", Macro::SendMonth},
    {"%RECEIVED_DAY_BT", Macro::ReceivedDayBytes},
    {"%RECEIVED_DAY_KB", Macro::ReceivedDayKb},
    {"%RECEIVED_DAY_MB", Macro::ReceivedDayMb},
    {"%RECEIVED_DAY", Macro::ReceivedDay},
    {"%RECEIVED_MONTH_BT", Macro::ReceivedMonthBytes},
    {"%RECEIVED_MONTH_KB", Macro::ReceivedMonthKb},
    {"%RECEIVED_MONTH_MB", Macro::ReceivedMonthMb},
    {"%RECEIVED_MONTH", Macro::ReceivedMonth},
    {"%MONEY_CURR_DAY", Macro::MoneyDay},
    {"%MONEY_CURR_MONTH", Macro::MoneyMonth},
    {"%MONEY_ROUBL_DAY", Macro::NationalMoneyDay},
    {"%MONEY_ROUBL_MONTH", Macro::NationalMoneyMonth},
    {"%ADMIN_NAME", Macro::AdminName},
    {"%ADMIN_EMAIL", Macro::AdminEmail},
};

bool NameAt(std::string_view text, size_t pos, std::string_view name) {
  if (text.size() - pos < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (Lower(text[pos + i]) != Lower(name[i])) return false;
  return true;
}

// Everything the macros show, fixed for one expansion.
struct Expansion {
  const ReportSubject& subject;
  std::int64_t now;
  ReportDates dates;
  std::shared_ptr<const SystemSettings> settings;

  std::string Traffic(std::int64_t bytes, TrafficUnit unit) const { return FormatTraffic(bytes, unit, true); }

  std::string Value(Macro macro) const {
    const CounterBlock& day = subject.day;
    const CounterBlock& month = subject.month;
    switch (macro) {
      case Macro::Login:
        return subject.login;
      case Macro::DisplayName:
        return subject.name;
      case Macro::StartDate:
        return FormatShortDate(dates.start);
      case Macro::EndDate:
        return FormatShortDate(dates.end);
      case Macro::CurrentDate:
        return FormatShortDate(now);
      case Macro::CurrentTime:
        return FormatTimeOfDay(now);
      case Macro::TimeDay:
        return FormatMilliseconds(day.timeMs);
      case Macro::TimeMonth:
        return FormatMilliseconds(month.timeMs);
      case Macro::SendDayBytes:
        return Traffic(day.outgoing, TrafficUnit::Bytes);
      case Macro::SendDayKb:
        return Traffic(day.outgoing, TrafficUnit::Kb);
      case Macro::SendDayMb:
        return Traffic(day.outgoing, TrafficUnit::Mb);
      case Macro::SendDay:
        return Traffic(day.outgoing, TrafficUnit::KbAndMb);
      case Macro::SendMonthBytes:
        return Traffic(month.outgoing, TrafficUnit::Bytes);
      case Macro::SendMonthKb:
        return Traffic(month.outgoing, TrafficUnit::Kb);
      case Macro::SendMonthMb:
        return Traffic(month.outgoing, TrafficUnit::Mb);
      case Macro::SendMonth:
        return Traffic(month.outgoing, TrafficUnit::KbAndMb);
      case Macro::ReceivedDayBytes:
        return Traffic(day.incoming, TrafficUnit::Bytes);
      case Macro::ReceivedDayKb:
        return Traffic(day.incoming, TrafficUnit::Kb);
      case Macro::ReceivedDayMb:
        return Traffic(day.incoming, TrafficUnit::Mb);
      case Macro::ReceivedDay:
        return Traffic(day.incoming, TrafficUnit::KbAndMb);
      case Macro::ReceivedMonthBytes:
        return Traffic(month.incoming, TrafficUnit::Bytes);
      case Macro::ReceivedMonthKb:
        return Traffic(month.incoming, TrafficUnit::Kb);
      case Macro::ReceivedMonthMb:
        return Traffic(month.incoming, TrafficUnit::Mb);
      case Macro::ReceivedMonth:
        return Traffic(month.incoming, TrafficUnit::KbAndMb);
      case Macro::MoneyDay:
        return FormatMoney(day.money);
      case Macro::MoneyMonth:
        return FormatMoney(month.money);
      case Macro::NationalMoneyDay:
        return FormatMoney(day.nationalMoney);
      case Macro::NationalMoneyMonth:
        return FormatMoney(month.nationalMoney);
      case Macro::AdminName:
        return settings->NameAdmin;
      case Macro::AdminEmail:
        return settings->EMailAdmin;
    }
    return {};
  }
};

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

ReportSubject ReportSubjectLocked(const UserRecord& user) {
  return {user.login, user.name, user.dayCounters, user.monthCounters};
}

ReportDates ReportDatesAt(std::int64_t localNow, int billingDay) {
  std::tm now = LocalTm(localNow);
  std::int64_t today = LocalSeconds(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
  ReportDates dates;
  dates.end = now.tm_hour == 0 && now.tm_min == 0 ? today - kDay : today;
  dates.start = BillingMonthDays(dates.end, billingDay).front();
  return dates;
}

std::string ExpandReportTemplate(std::string_view text, const ReportSubject& subject, std::int64_t localNow) {
  std::shared_ptr<const SystemSettings> settings = Settings();
  Expansion expansion{subject, localNow, ReportDatesAt(localNow, BillingDay(*settings)), settings};
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    bool written = false;
    for (const MacroName& macro : kMacros) {
      if (!NameAt(text, pos, macro.name)) continue;
      pos += macro.name.size();
      std::string value = expansion.Value(macro.macro);
      if (!value.empty()) {
        out += value;
        written = true;
        break;
      }
    }
    if (!written && pos < text.size()) out += text[pos++];
  }
  return out;
}

std::string BuildReport(const ReportSubject& subject, std::int64_t localNow) {
  // A login with a '/' would name a file outside Forms: such a user has no
  // template of his own.
  std::string path = FormsFolder() + "/" + subject.login + ".fem";
  if (subject.login.empty() || subject.login.find('/') != std::string::npos || !FileExists(path))
    path = FormsFolder() + "/default.fem";
  std::string text;
  if (!ReadFileBounded(path, kMaxTemplateBytes, text)) return {};
  return ExpandReportTemplate(text, subject, localNow);
}

}  // namespace brindlex
