// Prints the [Groups] and [Users] sections of a settings file holding the
// default group and one user identified by the address 127.0.0.1, with
// incoming and outgoing counting on, day and month limits and a speed limit
// far above what loopback moves (so every check runs and none bites). The
// benchmark scripts append it to the program folder's Brindlex.ini.
#include <cstdio>
#include <string>

#include "core/groups.h"
#include "core/schedule.h"
#include "core/users.h"

using namespace brindlex;

int main() {
  UserRecord user;
  user.login = "127.0.0.1";
  user.name = "Bench";
  user.byAddress = true;
  user.schedule = FullSchedule();
  user.rules.countIncoming = true;
  user.rules.countOutgoing = true;
  user.rules.monthMb = 1e9;
  user.rules.dayMb = 1e8;
  user.rules.speedNormal = 4e6;  // KB/s
  user.rules.speedExceeded = 4e6;
  std::string text = "[Groups]\r\n00000000=" + FormatGroupRecord(MakeDefaultGroup()) + "\r\n[Users]\r\n" + user.login +
                     "=" + FormatUserRecord(user) + "\r\n";
  std::fputs(text.c_str(), stdout);
  return 0;
}
