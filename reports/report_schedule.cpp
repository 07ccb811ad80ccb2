#include "reports/report_schedule.h"

#include <ctime>
#include <mutex>

#include "core/clock.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/users.h"
#include "reports/report_template.h"

namespace brindlex {

namespace {

constexpr std::int64_t kDay = 86400;

struct Recipient {
  std::string address;
  ReportSubject subject;
};

}  // namespace

bool MonthlyReportsDue(std::int64_t localNow, int spamMinutes, int billingDay) {
  std::int64_t reportDay = spamMinutes == 0 ? localNow : localNow + kDay;
  return LocalTm(reportDay).tm_mday == billingDay;
}

std::vector<OutgoingMail> ScheduledReports(std::int64_t localNow, bool monthly) {
  std::vector<Recipient> recipients;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    for (const auto& user : Users()) {
      if (user->deleted || user->reportEmail.empty()) continue;
      // One message even when both reports are wanted.
      if (user->rules.dailyReport || (monthly && user->rules.monthlyReport))
        recipients.push_back({user->reportEmail, ReportSubjectLocked(*user)});
    }
  }
  std::vector<OutgoingMail> mails;
  mails.reserve(recipients.size());
  for (const Recipient& recipient : recipients)
    mails.push_back({recipient.address, BuildReport(recipient.subject, localNow)});
  return mails;
}

std::vector<OutgoingMail> ReportSchedule::Due(std::int64_t localNow) {
  std::int64_t minute = localNow - ((localNow % 60) + 60) % 60;
  if (minute == lastMinute_) return {};
  lastMinute_ = minute;
  std::shared_ptr<const SystemSettings> settings = Settings();
  int spamMinutes = 0;
  if (!ParseTimeOfDay(settings->SpamTime, spamMinutes)) spamMinutes = 0;
  std::tm now = LocalTm(minute);
  if (now.tm_hour * 60 + now.tm_min != spamMinutes) return {};
  return ScheduledReports(localNow, MonthlyReportsDue(localNow, spamMinutes, BillingDay(*settings)));
}

}  // namespace brindlex
