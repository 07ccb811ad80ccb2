// Appending log lines so that a failing disk loses no billing record quietly.
// Each line goes to its file with one write; a line that cannot be written
// (disk full, folder gone) is never left in part in the file, and waits with
// every later line in a bounded queue in memory, in order, until a retry
// writes them. The administrator learns of it once per episode, on the
// monitor and on standard error, and again when the queue is written out.
//
// Threads: any thread may append (the workers write their connection lines
// themselves); lines of several threads never interleave. A report from a
// thread other than the main thread is posted to the monitor.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brindlex {

// Lines kept at most while the disk fails; later ones are counted as lost.
inline constexpr size_t kMaxPendingLogLines = 100'000;

// Appends text and CR LF to the file, creating it, after the lines still
// waiting. False when the line could not be written now (it then waits, or is
// lost when the queue is full).
bool AppendLine(const std::string& path, std::string_view text);

// Writes the waiting lines, in order, as far as the disk takes them. Returns
// how many still wait.
size_t RetryPendingLogLines();

// Lines waiting now, and lines lost since the start (the queue was full).
size_t PendingLogLineCount();
// The bytes of the lines waiting now, their CR LF included.
size_t PendingLogByteCount();
size_t LostLogLineCount();

// The last try at shutdown: writes what it can; the lines that still wait
// are dropped and counted as lost, and a non-zero total of lost lines is
// reported. Returns that total.
size_t FlushLogLinesAtShutdown();

}  // namespace brindlex
