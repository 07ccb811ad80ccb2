#include "core/log_writer.h"

#include <fcntl.h>
#include <sys/stat.h>

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

// The file of the last line, kept open: a busy gateway ends hundreds of
// connections a second, and opening and closing the day's log for each line
// took more than the write. The file is checked to still be the one at its
// path before each line (moved or deleted logs are opened afresh).
struct OpenLog {
  std::string path;
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
};

// Guards everything below; held across the writes, so lines never interleave.
struct LogWriter {
  std::mutex mutex;
  std::deque<PendingLine> pending;
  size_t pendingBytes = 0;  // of the lines in `pending`
  size_t lost = 0;
  bool failing = false;  // an episode has been reported and not yet ended
  OpenLog open;
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

void CloseLocked(OpenLog& log) {
  CloseDescriptor(log.fd);
  log.path.clear();
}

// The kept file when it is still the one at `path`, else `path` opened.
bool OpenLocked(OpenLog& log, const std::string& path) {
  struct stat st;
  if (log.fd >= 0 && log.path == path && ::stat(path.c_str(), &st) == 0 && st.st_dev == log.device &&
      st.st_ino == log.inode)
    return true;
  CloseLocked(log);
  log.fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (log.fd < 0) return false;
  if (::fstat(log.fd, &st) != 0) {
    CloseLocked(log);
    return false;
  }
  log.path = path;
  log.device = st.st_dev;
  log.inode = st.st_ino;
  return true;
}

// One line to its file with one write, never left there in part.
bool AppendLocked(OpenLog& log, const std::string& path, std::string_view bytes) {
  if (!OpenLocked(log, path)) return false;
  if (AppendWhole(log.fd, bytes)) return true;
  int error = errno;
  CloseLocked(log);  // the next try opens the file afresh
  errno = error;
  return false;
}

// Writes from the front of the queue until one fails. Caller holds the mutex.
void RetryLocked(LogWriter& w) {
  size_t written = 0;
  while (!w.pending.empty() && AppendLocked(w.open, w.pending.front().path, w.pending.front().bytes)) {
    w.pendingBytes -= w.pending.front().bytes.size();
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
  if (w.pending.empty() && AppendLocked(w.open, path, bytes)) return true;
  int error = errno;
  if (!w.failing) {
    w.failing = true;
    Report(Format(1201, path, std::strerror(error)));
  }
  if (w.pending.size() < kMaxPendingLogLines) {
    w.pendingBytes += bytes.size();
    w.pending.push_back({path, std::move(bytes)});
  } else {
    ++w.lost;
  }
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

size_t PendingLogByteCount() {
  LogWriter& w = Writer();
  std::lock_guard<std::mutex> lock(w.mutex);
  return w.pendingBytes;
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
  CloseLocked(w.open);
  w.lost += w.pending.size();
  w.pending.clear();
  w.pendingBytes = 0;
  if (w.lost > 0) Report(Format(1203, std::to_string(w.lost)));
  return w.lost;
}

}  // namespace brindlex
