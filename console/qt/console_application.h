// The console's application object: every event handler runs inside its
// notify(), whose catch-all reports an exception that escaped a handler the
// way the gateway reports its own (the box with the module and its step,
// then the fatal stop, which ends the console and never the gateway), and
// lets the silent abort end only the handler.
//
// A handler that has steps of its own names itself and keeps its current
// step in a HandlerStep; the report names the innermost one that an
// exception left. A handler without one is reported by the class of the
// object that received the event, with the event's type as its step.
//
// Threads: the console's (GUI) thread only.
#pragma once

#include <QApplication>
#include <functional>
#include <string>

namespace brindlex {

class HandlerStep {
 public:
  HandlerStep(const char* module, int step);
  ~HandlerStep();
  HandlerStep(const HandlerStep&) = delete;
  HandlerStep& operator=(const HandlerStep&) = delete;
  void Set(int step) { step_ = step; }

 private:
  const char* module_;
  int step_;
  int exceptionsAtStart_;
  HandlerStep* outer_;
};

// The module and step that the last exception left, as notify() reports
// them; "" when no HandlerStep was left by it. Taking it forgets it.
struct FailedStep {
  std::string module;
  int step = 0;
};
FailedStep TakeFailedStep();

class ConsoleApplication final : public QApplication {
  Q_OBJECT

 public:
  // The console's exit status after the fatal stop.
  static constexpr int kFatalExit = 3;

  // Also puts the fatal report's box and stop in force. `stop` ends the
  // console after the box; by default the event loop ends with kFatalExit
  // (and no later loop runs: the console is going).
  ConsoleApplication(int& argc, char** argv, std::function<void()> stop = {});
  ~ConsoleApplication() override;
  bool notify(QObject* receiver, QEvent* event) override;
  // How many fatal stops were asked for.
  int FatalStops() const { return fatalStops_; }

 private:
  int fatalStops_ = 0;
};

}  // namespace brindlex
