#include "core/report_exception.h"

#include <cstdio>
#include <mutex>
#include <optional>

#include "core/main_loop.h"
#include "core/monitor.h"
#include "core/process_state.h"

namespace brindlex {

namespace {
std::mutex g_hooksMutex;
FatalStopHooks g_hooks;
}  // namespace

std::string ExceptionText(std::string_view message, std::string_view module, int line) {
  return "Exception: '" + std::string(message) + "' in module '" + std::string(module) +
         "' Line=" + std::to_string(line);
}

std::string ExceptionCaption() { return std::string(kApplicationTitle) + " (" + kFileVersion + ")"; }

void SetFatalStopHooks(FatalStopHooks hooks) {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  g_hooks = std::move(hooks);
}

void ReportException(std::string_view message, std::string_view module, int line) {
  FatalStopHooks hooks;
  {
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    hooks = g_hooks;
  }
  std::string text = ExceptionText(message, module, line);
  // Only the first fatal report is shown; later ones come from threads that
  // fail while the program is already going down.
  bool first = !Flags().fatalStop.exchange(true);
  if (first) {
    if (hooks.show)
      hooks.show(ExceptionCaption(), text);
    else
      std::fprintf(stderr, "%s: %s\n", ExceptionCaption().c_str(), text.c_str());
  }
  if (hooks.postFatalStop) hooks.postFatalStop();
}

namespace {

// The message of the exception being handled; none for the silent abort,
// which only ends the handler.
std::optional<std::string> CurrentExceptionMessage() {
  try {
    throw;
  } catch (const AbortException&) {
    return std::nullopt;
  } catch (const std::exception& e) {
    return std::string(e.what());
  } catch (...) {
    return std::string("unknown exception");
  }
}

}  // namespace

void ReportCurrentException(std::string_view module, int line) {
  if (std::optional<std::string> message = CurrentExceptionMessage()) ReportException(*message, module, line);
}

void ReportCurrentExceptionAndGoOn(std::string_view module, int line) {
  std::optional<std::string> message = CurrentExceptionMessage();
  if (!message) return;
  // Posted, never run synchronously: the reporting thread may hold what the
  // main thread is waiting for.
  TheMainLoop().Post([text = ExceptionText(*message, module, line)] { MonitorAppend(text); });
}

}  // namespace brindlex
