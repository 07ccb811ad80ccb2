// Splitting the daily logs into lines, for every reader of them (the counter
// rebuild, the statistics). A log may be huge, hostile or still being written,
// so lines go through one buffer of fixed size: memory never grows with the
// input, and each reader chooses what an overlong or unfinished line means to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace brindlex {

// A line and its LF must fit in this many bytes.
inline constexpr size_t kLogLineBuffer = 8192;

enum class OverlongLine {
  kEndsLog,  // nothing after it is read
  kSkipped,  // dropped up to its LF; reading goes on
};
enum class UnfinishedLine {
  kIgnored,  // a last line without LF is not read
  kRead,     // it is read as far as it goes
};
struct LogLineRules {
  OverlongLine overlong = OverlongLine::kEndsLog;
  UnfinishedLine unfinished = UnfinishedLine::kIgnored;
};

using LogLineHandler = std::function<void(std::string_view line)>;

// Takes a log's bytes in pieces of any size and calls the handler for every
// line (without its LF; a CR before it stays).
class LogLineSplitter {
 public:
  LogLineSplitter(LogLineRules rules, LogLineHandler onLine);
  LogLineSplitter(const LogLineSplitter&) = delete;
  LogLineSplitter& operator=(const LogLineSplitter&) = delete;

  // False once an overlong line has ended the log (later bytes are ignored).
  bool Feed(std::string_view bytes);
  // The end of the log: passes the unfinished last line when the rules read it.
  void Finish();

  // Reading straight into the buffer: at most FreeSpace() bytes at FreeStart(),
  // then Commit with their number.
  char* FreeStart() { return buffer_ + used_; }
  size_t FreeSpace() const { return kLogLineBuffer - used_; }
  bool Commit(size_t count);

 private:
  LogLineRules rules_;
  LogLineHandler onLine_;
  char buffer_[kLogLineBuffer];
  size_t used_ = 0;
  bool skipping_ = false;  // inside an overlong line that is being dropped
  bool ended_ = false;
};

// Reads the file through a LogLineSplitter. `onBytes` reports the bytes read
// so far after every read. False when the file could not be opened or the
// shutdown flag stopped the reading.
bool ReadLogLines(const std::string& path, LogLineRules rules, const LogLineHandler& onLine,
                  const std::function<void(std::int64_t bytesRead)>& onBytes = {});

}  // namespace brindlex
