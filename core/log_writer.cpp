#include "core/log_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "core/file_io.h"
#include "core/monitor.h"
#include "core/strings.h"

namespace brindlex {

namespace {

struct PendingLine {
  std::string path;
  std::string bytes;  // with its CR LF
};

// Guards everything below; held across the writes, so lines never interleave.
struct LogWriter {
  std::mutex mutex;
  std::deque<PendingLine> pending;
  size_t lost = 0;
  bool failing = false;  // an episode has been reported and not yet ended
};

LogWriter& Writer() {
  static LogWriter writer;
  return writer;
}

void Report(const std::string& text) {
  MonitorShow(text);
  std::fprintf(stderr, "%s\n", text.c_str());
}

std::string Format(int id, const std::string& first, const std::string& second = {}) {
  char text[2048];
  std::snprintf(text, sizeof(text), Str(id).c_str(), first.c_str(), second.c_str());
  return text;
}

// Writes from the front of the queue until one fails. Caller holds the mutex.
void RetryLocked(LogWriter& w) {
  size_t written = 0;
  while (!w.pending.empty() && AppendToFile(w.pending.front().path, w.pending.front().bytes)) {
    w.pending.pop_front();
    ++written;
  }
  if (w.pending.empty() && w.failing) {
    w.failing = false;
    Report(Format(1202, std::to_string(written)));
  }
}

}  // namespace

bool AppendLine(const std::string& path, std::string_view text) {
  LogWriter& w = Writer();
  std::string bytes(text);
  bytes += "\r\n";
  std::lock_guard<std::mutex> lock(w.mutex);
  if (!w.pending.empty()) RetryLocked(w);
  if (w.pending.empty() && AppendToFile(path, bytes)) return true;
  int error = errno;
  if (!w.failing) {
    w.failing = true;
    Report(Format(1201, path, std::strerror(error)));
  }
  if (w.pending.size() < kMaxPendingLogLines)
    w.pending.push_back({path, std::move(bytes)});
  else
    ++w.lost;
  return false;
}

size_t RetryPendingLogLines() {
  LogWriter& w = Writer();
  std::lock_guard<std::mutex> lock(w.mutex);
  RetryLocked(w);
  return w.pending.size();
}

size_t PendingLogLineCount() {
  LogWriter& w = Writer();
  std::lock_guard<std::mutex> lock(w.mutex);
  return w.pending.size();
}

size_t LostLogLineCount() {
  LogWriter& w = Writer();
  std::lock_guard<std::mutex> lock(w.mutex);
  return w.lost;
}

size_t FlushLogLinesAtShutdown() {
  LogWriter& w = Writer();
  std::lock_guard<std::mutex> lock(w.mutex);
  RetryLocked(w);
  w.lost += w.pending.size();
  w.pending.clear();
  if (w.lost > 0) Report(Format(1203, std::to_string(w.lost)));
  return w.lost;
}

}  // namespace brindlex
