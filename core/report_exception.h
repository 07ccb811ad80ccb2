// The common catch handler of every thread loop, timer and handler: shows the
// exception with the failing module and its current step marker, then ends
// the program through the fatal stop (no orderly shutdown, nothing logged).
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
void ReportException(std::string_view message, std::string_view module, int line);

}  // namespace brindlex
