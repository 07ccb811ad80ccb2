#include "console/qt/desktop_console.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <cstring>

#include "console/qt/main_form.h"
#include "console/qt/qt_main_loop.h"

namespace brindlex {

bool DesktopWanted() {
  const char* headless = std::getenv("BRINDLEX_HEADLESS");
  if (headless != nullptr && std::strcmp(headless, "1") == 0) return false;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

struct DesktopConsole::State {
  State(int& argc, char** argv) : application(argc, argv) {}
  QApplication application;
  QtMainLoop loop;
  std::unique_ptr<TMainFormBX> mainForm;
};

DesktopConsole::DesktopConsole(int& argc, char** argv) : state_(std::make_unique<State>(argc, argv)) {
  QApplication::setApplicationName("Brindlex");
  // The main window is hidden at start and closing it only hides it: the
  // program lives in the tray until "Закрыть".
  QApplication::setQuitOnLastWindowClosed(false);
}

DesktopConsole::~DesktopConsole() = default;

MainLoop& DesktopConsole::Loop() { return state_->loop; }

ConsoleRefresh DesktopConsole::Open(ConsoleEngine& engine, std::function<void()> exit) {
  state_->mainForm = std::make_unique<TMainFormBX>(engine, std::move(exit));
  // Without a tray there would be no way to the hidden window.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) state_->mainForm->show();
  return state_->mainForm->Refresh();
}

void DesktopConsole::ShowExceptionBox(const std::string& caption, const std::string& text) {
  QMessageBox::critical(nullptr, QString::fromStdString(caption), QString::fromStdString(text));
}

}  // namespace brindlex
