#include "core/report_exception.h"

#include <cstdio>
#include <mutex>

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

void ReportCurrentException(std::string_view module, int line) {
  try {
    throw;
  } catch (const AbortException&) {
    // The silent abort only ends the handler.
  } catch (const std::exception& e) {
    ReportException(e.what(), module, line);
  } catch (...) {
    ReportException("unknown exception", module, line);
  }
}

}  // namespace brindlex
