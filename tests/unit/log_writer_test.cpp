// Log lines on a failing disk: never a part of a line in the file, nothing
// reordered, the refused lines kept and written once the disk takes them, one
// report per episode, and an honest count of what was lost.
#include "core/log_writer.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "core/monitor.h"

namespace brindlex {
namespace {

class LogWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex-log-writer-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    SetMonitorSink([this](const std::string& line) { monitor_.push_back(line); });
  }
  void TearDown() override {
    SetMonitorSink({});
    std::filesystem::remove_all(dir_);
  }
  std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string dir_;
  std::vector<std::string> monitor_;
};

TEST_F(LogWriterTest, RefusedLinesWaitInOrderAndAreWrittenWhenTheDiskTakesThemAgain) {
  std::string missing = dir_ + "/gone";  // a Logging folder that disappeared
  std::string good = dir_ + "/good.log";
  EXPECT_TRUE(AppendLine(good, "first"));
  EXPECT_FALSE(AppendLine(missing + "/a.lgs", "second"));
  EXPECT_FALSE(AppendLine(good, "third")) << "a later line must not overtake the waiting one";
  EXPECT_FALSE(AppendLine(missing + "/a.lgs", "fourth"));
  EXPECT_EQ(PendingLogLineCount(), 3u);
  EXPECT_EQ(PendingLogByteCount(), std::string("second\r\nthird\r\nfourth\r\n").size());
  EXPECT_EQ(Read(good), "first\r\n");
  ASSERT_EQ(monitor_.size(), 1u) << "one report per episode, not one per line";
  EXPECT_NE(monitor_[0].find(missing + "/a.lgs"), std::string::npos) << monitor_[0];

  EXPECT_EQ(RetryPendingLogLines(), 3u) << "still failing: nothing written, nothing dropped";
  ASSERT_TRUE(std::filesystem::create_directory(missing));
  EXPECT_EQ(RetryPendingLogLines(), 0u);
  EXPECT_EQ(PendingLogByteCount(), 0u);
  EXPECT_EQ(Read(good), "first\r\nthird\r\n");
  EXPECT_EQ(Read(missing + "/a.lgs"), "second\r\nfourth\r\n");
  EXPECT_EQ(monitor_.size(), 2u) << "the end of the episode is reported too";
  EXPECT_EQ(LostLogLineCount(), 0u);
  EXPECT_EQ(FlushLogLinesAtShutdown(), 0u);
  EXPECT_EQ(monitor_.size(), 2u) << "nothing lost, nothing to say at shutdown";
}

// A file-size limit makes the write stop part way, as a full disk does.
TEST_F(LogWriterTest, AWriteThatStopsPartWayIsCutBackToTheLastWholeLine) {
  std::string path = dir_ + "/day.lgs";
  ASSERT_TRUE(AppendLine(path, "Bob, bob, 10.0.0.5, 12.07.26, 09:58:59, 61000, 300, 20, 4, 5"));
  off_t size = static_cast<off_t>(Read(path).size());
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old), 0);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(size + 10);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  bool written = AppendLine(path, "Ann, ann, 10.0.0.6, 12.07.26, 10:00:00, 7, 7, 7, 7, 7");
  std::string during = Read(path);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
  ::sigaction(SIGXFSZ, &old, nullptr);

  EXPECT_FALSE(written);
  EXPECT_EQ(during.size(), static_cast<size_t>(size)) << "no part of the refused line stays: " << during;
  EXPECT_EQ(RetryPendingLogLines(), 0u);
  EXPECT_EQ(Read(path),
            "Bob, bob, 10.0.0.5, 12.07.26, 09:58:59, 61000, 300, 20, 4, 5\r\n"
            "Ann, ann, 10.0.0.6, 12.07.26, 10:00:00, 7, 7, 7, 7, 7\r\n");
}

// The day's log stays open between lines; a log that an administrator moved
// or deleted meanwhile must not swallow the next line.
TEST_F(LogWriterTest, ALogMovedOrDeletedBetweenLinesGetsTheNextLineInAFreshFile) {
  std::string path = dir_ + "/day.log";
  ASSERT_TRUE(AppendLine(path, "one"));
  std::filesystem::rename(path, dir_ + "/moved.log");
  ASSERT_TRUE(AppendLine(path, "two"));
  EXPECT_EQ(Read(dir_ + "/moved.log"), "one\r\n");
  EXPECT_EQ(Read(path), "two\r\n");

  std::filesystem::remove(path);
  ASSERT_TRUE(AppendLine(path, "three"));
  ASSERT_TRUE(AppendLine(dir_ + "/other.log", "four"));
  ASSERT_TRUE(AppendLine(path, "five"));
  EXPECT_EQ(Read(path), "three\r\nfive\r\n");
  EXPECT_EQ(Read(dir_ + "/other.log"), "four\r\n");
}

TEST_F(LogWriterTest, TheQueueIsBoundedAndShutdownSaysHowManyLinesWereLost) {
  std::string missing = dir_ + "/gone/a.log";
  for (size_t i = 0; i < kMaxPendingLogLines + 5; ++i) AppendLine(missing, "x");
  EXPECT_EQ(PendingLogLineCount(), kMaxPendingLogLines);
  EXPECT_EQ(LostLogLineCount(), 5u);
  EXPECT_EQ(FlushLogLinesAtShutdown(), kMaxPendingLogLines + 5);
  EXPECT_EQ(PendingLogLineCount(), 0u);
  ASSERT_FALSE(monitor_.empty());
  EXPECT_NE(monitor_.back().find(std::to_string(kMaxPendingLogLines + 5)), std::string::npos) << monitor_.back();
}

}  // namespace
}  // namespace brindlex
