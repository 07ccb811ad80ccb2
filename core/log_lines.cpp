#include "core/log_lines.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "core/process_state.h"

namespace brindlex {

LogLineSplitter::LogLineSplitter(LogLineRules rules, LogLineHandler onLine)
    : rules_(rules), onLine_(std::move(onLine)) {}

bool LogLineSplitter::Feed(std::string_view bytes) {
  while (!bytes.empty() && !ended_) {
    size_t count = std::min(bytes.size(), FreeSpace());
    std::memcpy(FreeStart(), bytes.data(), count);
    bytes.remove_prefix(count);
    Commit(count);
  }
  return !ended_;
}

bool LogLineSplitter::Commit(size_t count) {
  if (ended_) return false;
  size_t scanFrom = used_;
  used_ += count;
  size_t lineStart = 0;
  while (const void* found = std::memchr(buffer_ + scanFrom, '\n', used_ - scanFrom)) {
    size_t end = static_cast<size_t>(static_cast<const char*>(found) - buffer_);
    if (skipping_)
      skipping_ = false;  // the LF of the dropped line
    else
      onLine_(std::string_view(buffer_ + lineStart, end - lineStart));
    lineStart = scanFrom = end + 1;
  }
  std::memmove(buffer_, buffer_ + lineStart, used_ - lineStart);
  used_ -= lineStart;
  if (used_ == kLogLineBuffer) {  // a full buffer without LF: the line cannot fit
    used_ = 0;
    if (rules_.overlong == OverlongLine::kEndsLog) ended_ = true;
    skipping_ = !ended_;
  } else if (skipping_) {
    used_ = 0;  // more of the dropped line
  }
  return !ended_;
}

void LogLineSplitter::Finish() {
  if (!ended_ && !skipping_ && used_ > 0 && rules_.unfinished == UnfinishedLine::kRead)
    onLine_(std::string_view(buffer_, used_));
  used_ = 0;
  ended_ = true;
}

bool ReadLogLines(const std::string& path, LogLineRules rules, const LogLineHandler& onLine,
                  const std::function<void(std::int64_t bytesRead)>& onBytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  LogLineSplitter splitter(rules, onLine);
  std::int64_t total = 0;
  bool stopped = false;
  while (true) {
    if (Flags().shutdown) {
      stopped = true;
      break;
    }
    ssize_t n = ::read(fd, splitter.FreeStart(), splitter.FreeSpace());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
    bool more = splitter.Commit(static_cast<size_t>(n));
    if (onBytes) onBytes(total);
    if (!more) break;
  }
  ::close(fd);
  if (!stopped) splitter.Finish();
  return !stopped;
}

}  // namespace brindlex
