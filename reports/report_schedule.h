// The daily mailing of the users' reports at SpamTime: which users get one,
// and whether the monthly reports are due. Main thread (the sender's tick).
#pragma once

#include <cstdint>
#include <vector>

#include "reports/mail_message.h"

namespace brindlex {

// Whether the monthly reports go out at a mailing that happens at `localNow`:
// the mailing at 00:00 reports on the day just ended and any later one on
// the day about to begin, so they are due when the day after the one
// reported is the billing day.
bool MonthlyReportsDue(std::int64_t localNow, int spamMinutes, int billingDay);

// The reports of the mailing at `localNow`: one message for every user that
// is not deleted, has a report address and wants a daily report, or a
// monthly one when `monthly` (they are due). Takes the accounts lock to copy the users'
// figures and builds the reports without it.
std::vector<OutgoingMail> ScheduledReports(std::int64_t localNow, bool monthly);

class ReportSchedule {
 public:
  // Run every tick; acts on the first tick of each minute, when that minute
  // is SpamTime (a SpamTime that cannot be read counts as 00:00), and
  // returns the reports to queue.
  std::vector<OutgoingMail> Due(std::int64_t localNow);

 private:
  std::int64_t lastMinute_ = -1;  // local seconds at the start of the minute last seen
};

}  // namespace brindlex
