// The desktop console as the program's entry sees it, without a Qt header:
// whether a desktop is there, the Qt main loop, and the hidden main window
// with its tray icon over an engine's console interface.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "console/console_engine.h"
#include "core/main_loop.h"

namespace brindlex {

// A display is there (DISPLAY or WAYLAND_DISPLAY) and BRINDLEX_HEADLESS is not 1.
bool DesktopWanted();

// What the main timer asks of the console; called on the main thread.
struct ConsoleRefresh {
  std::function<void()> repaintTree;
  std::function<void()> perSecondViews;
  std::function<void()> rebuildUsersView;
  std::function<void()> trayUpkeep;
  std::function<void()> repaintSpeedWindows;
};

class DesktopConsole {
 public:
  // Creates the application object and the Qt main loop; main thread only.
  DesktopConsole(int& argc, char** argv);
  ~DesktopConsole();
  MainLoop& Loop();
  // Builds the main window (hidden) over the engine; "Закрыть" in the tray
  // menu, once confirmed, runs `exit`.
  ConsoleRefresh Open(ConsoleEngine& engine, std::function<void()> exit);
  // The box of an unexpected exception; returns when it is closed.
  void ShowExceptionBox(const std::string& caption, const std::string& text);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace brindlex
