// The users' reports: a text template from the program folder's Forms with
// macros ("%LOGIN", "%SEND_DAY_MB", ...) that are replaced by the user's
// figures, the report dates and the administrator's name and address.
//
// Threads: the expansion is a pure function of its arguments (plus the
// settings in force); building a report reads a file. Safe from any thread;
// the user's figures are copied under the accounts lock first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/counters.h"

namespace brindlex {

struct UserRecord;

// A template is read up to this many bytes; the rest of a longer file is
// ignored.
inline constexpr size_t kMaxTemplateBytes = 64 * 1024;

// What a report shows of a user.
struct ReportSubject {
  std::string login;
  std::string name;  // display name
  CounterBlock day;
  CounterBlock month;
};
// Copies the fields a report shows; the caller holds the accounts lock.
ReportSubject ReportSubjectLocked(const UserRecord& user);

// The dates a report covers, as local seconds at midnight. The end is today,
// or yesterday for a report built at 00:00 exactly (the day just ended); the
// start is the billing day of the end's month, or of the month before when
// the end comes earlier in its month.
struct ReportDates {
  std::int64_t start = 0;
  std::int64_t end = 0;
};
ReportDates ReportDatesAt(std::int64_t localNow, int billingDay);

// The template text with every macro replaced. At each position the macros
// are tried in their table order, names compared without regard to case; a
// name found is consumed, and its value, when not empty, is written and the
// walk goes on after it; an empty value lets the later macros of the table
// try the text after the name. A character no macro took is copied as it is.
std::string ExpandReportTemplate(std::string_view text, const ReportSubject& subject, std::int64_t localNow);

// The report of a user from "Forms/<login>.fem", or "Forms/default.fem" when
// the user has no template of his own; empty when the template cannot be read.
std::string BuildReport(const ReportSubject& subject, std::int64_t localNow);

}  // namespace brindlex
