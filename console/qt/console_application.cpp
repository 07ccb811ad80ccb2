#include "console/qt/console_application.h"

#include <QMessageBox>
#include <QThread>
#include <exception>
#include <functional>

#include "core/report_exception.h"

namespace brindlex {

namespace {

// The handlers with steps now running, innermost first; and what the last
// exception left behind.
thread_local HandlerStep* t_innermost = nullptr;
thread_local FailedStep t_failed;

// What an exception left and a handler caught itself is no step of a later
// failure: each new step and each event forgets it.
void ForgetFailedStep() {
  if (!t_failed.module.empty()) t_failed = {};
}

// Boxes and the event loop belong to the GUI thread; a report from another
// thread reaches it through the event queue.
void OnGuiThread(std::function<void()> work) {
  if (QThread::currentThread() == QCoreApplication::instance()->thread())
    work();
  else
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

}  // namespace

HandlerStep::HandlerStep(const char* module, int step)
    : module_(module), step_(step), exceptionsAtStart_(std::uncaught_exceptions()), outer_(t_innermost) {
  ForgetFailedStep();
  t_innermost = this;
}

HandlerStep::~HandlerStep() {
  // Left by an exception: the innermost handler unwinds first and is the one
  // whose step the report names.
  if (std::uncaught_exceptions() > exceptionsAtStart_ && t_failed.module.empty()) t_failed = {module_, step_};
  t_innermost = outer_;
}

FailedStep TakeFailedStep() {
  FailedStep failed = std::move(t_failed);
  t_failed = {};
  return failed;
}

ConsoleApplication::ConsoleApplication(int& argc, char** argv, std::function<void()> stop) : QApplication(argc, argv) {
  if (!stop) stop = [] { QCoreApplication::exit(kFatalExit); };
  SetFatalStopHooks(FatalStopHooks{[](const std::string& caption, const std::string& text) {
                                     OnGuiThread([caption, text] {
                                       QMessageBox::critical(QApplication::activeWindow(),
                                                             QString::fromStdString(caption),
                                                             QString::fromStdString(text));
                                     });
                                   },
                                   [this, stop = std::move(stop)] {
                                     OnGuiThread([this, stop] {
                                       ++fatalStops_;
                                       stop();
                                     });
                                   }});
}

// The hooks know this object: reports after it has gone print on standard
// error again.
ConsoleApplication::~ConsoleApplication() { SetFatalStopHooks({}); }

bool ConsoleApplication::notify(QObject* receiver, QEvent* event) {
  ForgetFailedStep();
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    FailedStep failed = TakeFailedStep();
    if (failed.module.empty()) {
      failed.module = receiver != nullptr ? receiver->metaObject()->className() : "QApplication";
      failed.step = event != nullptr ? static_cast<int>(event->type()) : 0;
    }
    ReportCurrentException(failed.module, failed.step);
  }
  return false;
}

}  // namespace brindlex
