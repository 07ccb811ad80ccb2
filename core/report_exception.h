// The common catch handlers. The fatal one shows the exception with the
// failing module and its current step marker, then ends the program through
// the fatal stop (no orderly shutdown; only the session journal is written,
// so the open sessions are recovered at the next start). Where a failure
// concerns one part only (one connection, one accept, one cache pass), the
// same text goes to the monitor instead and the program goes on.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace brindlex {

inline constexpr const char* kApplicationTitle = "Brindlex V2.8";
inline constexpr const char* kFileVersion = "2.8.0.0";

// The silent abort: a handler throws it to stop without any report.
struct AbortException : std::exception {
  const char* what() const noexcept override { return "EAbort"; }
};

// "Exception: '<message>' in module '<module>' Line=<line>"
std::string ExceptionText(std::string_view message, std::string_view module, int line);
// "Brindlex V2.8 (<file version>)"
std::string ExceptionCaption();

// Where the report goes (the console's box, or standard error when headless)
// and how the main loop is told to stop. Set once at start-up.
struct FatalStopHooks {
  std::function<void(const std::string& caption, const std::string& text)> show;
  std::function<void()> postFatalStop;
};
void SetFatalStopHooks(FatalStopHooks hooks);

// Reports the exception currently being handled (call from a catch block).
void ReportCurrentException(std::string_view module, int line);
// The same for a failure that ends only what failed: the text goes to the
// monitor (from any thread) and nothing stops. The silent abort shows nothing.
void ReportCurrentExceptionAndGoOn(std::string_view module, int line);
void ReportException(std::string_view message, std::string_view module, int line);

}  // namespace brindlex
