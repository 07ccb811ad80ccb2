// Programs whose output is a page: a file of the web root with the extension
// "exe" that the system may execute. It gets the request's query and a line
// feed on its standard input and writes the page to its standard output.
// A program that never ends, or floods, would hold the connection's worker
// for good, so each run has a time limit and an output cap; past either the
// program's whole process group is killed and what it wrote so far, up to
// the cap, is the page. The caller's thread blocks for the run; any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace brindlex {

struct ProgramLimits {
  std::chrono::milliseconds time{10000};
  size_t output = 1024 * 1024;
};

enum class ProgramEnd {
  kFinished,    // it closed its output and ended in time
  kTimedOut,    // still running at the time limit: killed
  kFlooded,     // wrote more than the cap: killed
  kNotStarted,  // the system could not start it
};

struct ProgramRun {
  std::string output;  // at most limits.output bytes
  ProgramEnd end = ProgramEnd::kNotStarted;
};

// Runs `file` (no shell, no arguments) in its own process group with
// `input` on standard input (closed after it) and standard error discarded,
// and always waits for it, so no zombie stays behind.
ProgramRun RunPageProgram(const std::string& file, const std::string& input, const ProgramLimits& limits = {});

}  // namespace brindlex
