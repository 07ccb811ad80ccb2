#include <gtest/gtest.h>
#include <string>

#include "console/monitor_view.h"

namespace brindlex {
namespace {

const std::string kLine =
    "HTTP, Ivan Petrov, IVAN, 10.0.0.5, 12.07.26, 12:00:01, a.lan, 150, 2048, 300, http://a.lan/q?x=1,2";

TEST(ConsoleMonitorView, The111thLineTrimsTheListTo100) {
  MonitorLines monitor;
  for (int i = 1; i <= 110; ++i) monitor.Add("line " + std::to_string(i));
  EXPECT_EQ(monitor.Lines().size(), 110u);
  monitor.Add("line 111");
  ASSERT_EQ(monitor.Lines().size(), 100u);
  EXPECT_EQ(monitor.Lines().front(), "line 12");
  EXPECT_EQ(monitor.Lines().back(), "line 111");
  EXPECT_EQ(monitor.Selected(), 99u) << "the selection follows the last line";
}

TEST(ConsoleMonitorView, PausedOrEmptyLinesAreDropped) {
  MonitorLines monitor;
  monitor.Add("");
  EXPECT_TRUE(monitor.Lines().empty());
  monitor.SetPaused(true);
  monitor.Add("while paused");
  EXPECT_TRUE(monitor.Lines().empty());
  monitor.SetPaused(false);
  monitor.Add("after");
  ASSERT_EQ(monitor.Lines().size(), 1u);
  EXPECT_EQ(monitor.Selected(), 0u);
  monitor.Clear();
  EXPECT_TRUE(monitor.Lines().empty());
  EXPECT_FALSE(monitor.Selected());
}

TEST(ConsoleMonitorView, AnEarlierSelectionStaysWhereItIs) {
  MonitorLines monitor;
  for (int i = 1; i <= 5; ++i) monitor.Add("line " + std::to_string(i));
  monitor.Select(1);
  monitor.Add("line 6");
  EXPECT_EQ(monitor.Selected(), 1u);
  for (int i = 7; i <= 111; ++i) monitor.Add("line " + std::to_string(i));
  EXPECT_FALSE(monitor.Selected()) << "the selected line was trimmed away";
  monitor.Select(50);
  for (int i = 112; i <= 122; ++i) monitor.Add("line " + std::to_string(i));
  ASSERT_TRUE(monitor.Selected());
  EXPECT_EQ(monitor.Lines()[*monitor.Selected()], "line 62") << "the same line after a trim";
}

TEST(ConsoleMonitorView, TheSelectedLinesUrlAndTheFilterUser) {
  UsersSnapshot users;
  ConsoleUser gone;
  gone.id = 3;
  gone.login = "ivan";
  gone.deleted = true;
  ConsoleUser ivan;
  ivan.id = 8;
  ivan.login = "Ivan";
  users.users = {gone, ivan};

  MonitorLines monitor;
  EXPECT_FALSE(monitor.CanAddToFilter());
  monitor.Add(kLine);
  EXPECT_EQ(monitor.SelectedUrl(), "http://a.lan/q?x=1,2");
  EXPECT_TRUE(monitor.CanAddToFilter());
  const auto request = monitor.AddToFilter(users);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->userId, 8u) << "not the deleted user of that login";
  EXPECT_EQ(request->url, "http://a.lan/q?x=1,2");

  monitor.Add("Socks5 listener opened");
  EXPECT_EQ(monitor.SelectedUrl(), "");
  EXPECT_FALSE(monitor.CanAddToFilter());
  EXPECT_FALSE(monitor.AddToFilter(users));
}

TEST(ConsoleMonitorView, ALoginNamingNoUserGivesNothing) {
  UsersSnapshot users;
  ConsoleUser other;
  other.login = "olga";
  users.users = {other};
  MonitorLines monitor;
  monitor.Add(kLine);
  EXPECT_TRUE(monitor.CanAddToFilter());
  EXPECT_FALSE(monitor.AddToFilter(users));
}

}  // namespace
}  // namespace brindlex
