// The per-second work of the gateway, driven by the main loop's tick: time
// accounting of open sessions, the session sweep, the day rollover that splits
// every running session at midnight, the speed histories, the joining of
// ended workers, the refusal lines for the monitor, the console's refresh
// requests, and the e-mail reports' tick. Main thread only; time comes from
// the program clock, so tests move it by hand.
//
// The second base advances by whole seconds only, so a late tick neither
// loses the fraction nor counts it twice. The tick asks to be run again at
// the next whole second of the base; in between it only repaints the tree
// when the tree-dirty flag is set (the loop also runs it after posted work,
// such as the close of a connection).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace brindlex {

// What the console fills in; every hook may be empty (headless).
struct MainTimerHooks {
  std::function<void()> repaintTree;       // the tree-dirty flag was set
  std::function<void()> perSecondViews;    // status bar, cache labels, action button
  std::function<void()> rebuildUsersView;  // the users-dirty flag was set, or a new day
  std::function<void()> trayUpkeep;
  std::function<void()> repaintSpeedWindows;
};

struct MainTimer {
  int stepMarker = 0;
  std::int64_t secondBase = 0;
  std::int64_t lastCheckedDate = -1;  // local date (midnight) of the last day check; -1 unset
  int secondsSinceTicketSave = 0;
  size_t connectionsLastSecond = 0;
  MainTimerHooks hooks;
};

// The main loop's tick; returns how long until the next whole second of the
// second base, counted from the end of this tick. An exception is reported
// with module "MainTimer" and the step the tick was at (then the fatal stop;
// after the silent abort the tick runs again a second later).
std::chrono::nanoseconds MainTimerTimer(MainTimer& timer);

// The parts of the per-second work, exposed for tests.
// `now` is the counter value of this tick; time is charged up to the second base.
// Returns how many session lines it wrote.
size_t SessionSweep(std::int64_t whole, std::int64_t now, std::int64_t secondBase);
void DayRollover(MainTimer& timer);
void ShiftSpeedHistories();

}  // namespace brindlex
