// The user macros of the page templates: the user's name and login, what is
// left of each limit (in the units the pages name: MB, minutes, KB/s; empty
// for a limit that is not set) and the share of it used (whole percent, for
// the pages' bars: 80 and more is a warning, 100 and more exhausted; empty
// for a limit that is not set), the figures of today and of the billing
// month, a table of the billing month's days and one of the weekly schedule.
// Every text is ready for a page (HTML-escaped). Worker thread.
#pragma once

#include <string>

#include "core/accounting.h"
#include "core/users.h"
#include "http/template.h"

namespace brindlex {

class UserMacroTexts {
 public:
  // Copies what the macros show under the accounts lock (the caller must not
  // hold it), so that the texts are built without it.
  explicit UserMacroTexts(const UserRecord& user);
  // The day table reads the billing month's session logs.
  std::string Text(UserMacro macro) const;

 private:
  std::string ShareOf(double limit, double used) const;
  std::string ScheduleTable() const;
  std::string DaysTable() const;

  UserRecord user_;
  Schedule groupSchedule_ = FullSchedule();
  CountedBytes counted_;
};

}  // namespace brindlex
