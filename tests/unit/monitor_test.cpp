// Lines handed to the monitor from other threads: they arrive in order on the
// main thread, and a flood beyond the queue's bound is counted in one line.
#include "core/monitor.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "core/main_loop.h"

namespace brindlex {
namespace {

class MonitorPostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMainLoop(&loop_);
    SetMonitorSink([this](const std::string& line) { shown_.push_back(line); });
  }
  void TearDown() override {
    SetMonitorSink({});
    SetMainLoop(nullptr);
  }
  HeadlessMainLoop loop_;
  std::vector<std::string> shown_;
};

TEST_F(MonitorPostTest, LinesFromAnotherThreadArriveInOrderOnTheMainThread) {
  std::thread([] {
    for (int i = 0; i < 3; ++i) MonitorPost("line " + std::to_string(i));
  }).join();
  EXPECT_TRUE(shown_.empty()) << "nothing is shown off the main thread";
  loop_.Pump();
  EXPECT_EQ(shown_, (std::vector<std::string>{"line 0", "line 1", "line 2"}));
  std::vector<std::string> batch = {"first of two", "second of two"};
  MonitorPost(batch);
  EXPECT_TRUE(batch.empty());
  MonitorPost("later");
  loop_.Pump();
  EXPECT_EQ(shown_, (std::vector<std::string>{"line 0", "line 1", "line 2", "first of two", "second of two", "later"}));
}

TEST_F(MonitorPostTest, TheSwitchSinkIsToldEachLinesSwitchFromAnyThread) {
  std::vector<std::pair<std::string, int>> tagged;
  SetMonitorSwitchSink([&](const std::string& line, int monitorSwitch) { tagged.emplace_back(line, monitorSwitch); });
  MonitorAppend("status");
  MonitorShow("dns here", kMonitorDns);
  std::thread([] {
    MonitorShow("ftp there", kMonitorFtp);
    std::vector<std::string> batch = {"a", "b"};
    MonitorPost(batch, kMonitorSmtp);
  }).join();
  loop_.Pump();
  EXPECT_EQ(tagged, (std::vector<std::pair<std::string, int>>{{"status", kMonitorAlways},
                                                              {"dns here", kMonitorDns},
                                                              {"ftp there", kMonitorFtp},
                                                              {"a", kMonitorSmtp},
                                                              {"b", kMonitorSmtp}}));
  EXPECT_TRUE(shown_.empty()) << "one sink at a time";
  SetMonitorSink([this](const std::string& line) { shown_.push_back(line); });
  MonitorAppend("plain again", kMonitorPop3);
  EXPECT_EQ(shown_, std::vector<std::string>{"plain again"});
}

TEST_F(MonitorPostTest, AFloodBeyondTheBoundIsCountedInOneLine) {
  std::thread([] {
    for (size_t i = 0; i < kMaxPostedMonitorLines + 5; ++i) MonitorPost(std::to_string(i));
  }).join();
  loop_.Pump();
  ASSERT_EQ(shown_.size(), kMaxPostedMonitorLines + 1);
  EXPECT_EQ(shown_[kMaxPostedMonitorLines - 1], std::to_string(kMaxPostedMonitorLines - 1));
  EXPECT_EQ(shown_.back(), "Монитор не успевал за потоком строк: пропущено строк: 5");
  MonitorPost("after");
  loop_.Pump();
  EXPECT_EQ(shown_.back(), "after") << "the count starts again";
}

TEST(MonitorSwitches, ANamedListTurnsItsSwitchesOffAndAnUnknownNameNone) {
  EXPECT_FALSE(TurnMonitorSwitchesOff("dns,mail"));
  EXPECT_TRUE(MonitorShows(kMonitorDns)) << "nothing changed";
  EXPECT_TRUE(TurnMonitorSwitchesOff("dns,portmap"));
  EXPECT_FALSE(MonitorShows(kMonitorDns));
  EXPECT_FALSE(MonitorShows(kMonitorPortMap));
  EXPECT_TRUE(MonitorShows(kMonitorHttp));
  EXPECT_TRUE(TurnMonitorSwitchesOff(""));
  SetMonitorShows(kMonitorDns, true);
  SetMonitorShows(kMonitorPortMap, true);
}

}  // namespace
}  // namespace brindlex
