#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "console/monitor_view.h"
#include "core/program_folder.h"

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

MonitorEntry Of(const std::string& line, int monitorSwitch) { return MonitorEntry{line, monitorSwitch, 0, {}}; }

TEST(ConsoleMonitorView, LinesThatComeWhilePausedAreShownOnResume) {
  MonitorLines monitor;
  EXPECT_EQ(monitor.Add(""), MonitorChange::kNone);
  EXPECT_TRUE(monitor.Lines().empty());
  monitor.Add("before");
  EXPECT_EQ(monitor.SetPaused(true), MonitorChange::kNone);
  EXPECT_EQ(monitor.Add("while paused 1"), MonitorChange::kNone);
  EXPECT_EQ(monitor.Add(Of("while paused 2", kMonitorHttp)), MonitorChange::kNone);
  EXPECT_EQ(monitor.Lines(), std::deque<std::string>{"before"}) << "the list stands still";
  EXPECT_EQ(monitor.SetPaused(false), MonitorChange::kRebuilt);
  EXPECT_EQ(monitor.Lines(), (std::deque<std::string>{"before", "while paused 1", "while paused 2"}));
  EXPECT_EQ(monitor.Selected(), 2u);
  EXPECT_EQ(monitor.Add("after"), MonitorChange::kAdded);
  EXPECT_EQ(monitor.Lines().back(), "after");
  EXPECT_EQ(monitor.Texts().size(), monitor.Lines().size());
  monitor.Clear();
  EXPECT_TRUE(monitor.Lines().empty());
  EXPECT_FALSE(monitor.Selected());
  monitor.SetPaused(true);
  monitor.SetPaused(false);
  EXPECT_TRUE(monitor.Lines().empty()) << "nothing held after a clear";
}

TEST(ConsoleMonitorView, ASwitchHidesItsServicesLinesAndShowsThemAgain) {
  MonitorLines monitor;
  monitor.Add(Of("http 1", kMonitorHttp));
  monitor.Add(Of("dns 1", kMonitorDns));
  monitor.Add("status");
  EXPECT_EQ(monitor.SetShows(kMonitorDns, false), MonitorChange::kRebuilt);
  EXPECT_FALSE(monitor.Shows(kMonitorDns));
  EXPECT_TRUE(monitor.Shows(kMonitorAlways));
  EXPECT_EQ(monitor.SetShows(kMonitorAlways, false), MonitorChange::kNone) << "no switch of its own";
  EXPECT_EQ(monitor.Lines(), (std::deque<std::string>{"http 1", "status"}));
  EXPECT_EQ(monitor.Add(Of("dns 2", kMonitorDns)), MonitorChange::kNone);
  EXPECT_EQ(monitor.Add(Of("http 2", kMonitorHttp)), MonitorChange::kAdded);
  EXPECT_EQ(monitor.SetShows(kMonitorDns, false), MonitorChange::kNone) << "already off";

  // Turned on while paused: the resume shows it.
  monitor.SetPaused(true);
  EXPECT_EQ(monitor.SetShows(kMonitorDns, true), MonitorChange::kNone);
  EXPECT_EQ(monitor.Lines(), (std::deque<std::string>{"http 1", "status", "http 2"}));
  monitor.SetPaused(false);
  EXPECT_EQ(monitor.Lines(), (std::deque<std::string>{"http 1", "dns 1", "status", "dns 2", "http 2"}));
}

TEST(ConsoleMonitorView, HiddenLinesAreBoundedPerSwitchAndNeverPushOutShownOnes) {
  MonitorLines monitor;
  for (int i = 1; i <= 50; ++i) monitor.Add(Of("http " + std::to_string(i), kMonitorHttp));
  monitor.SetShows(kMonitorDns, false);
  for (int i = 1; i <= 500; ++i) monitor.Add(Of("dns " + std::to_string(i), kMonitorDns));
  ASSERT_EQ(monitor.Lines().size(), 50u);
  monitor.SetShows(kMonitorDns, true);
  ASSERT_EQ(monitor.Lines().size(), kMonitorKeptLines) << "the page's bounds";
  EXPECT_EQ(monitor.Lines().front(), "dns 401");
  EXPECT_EQ(monitor.Lines().back(), "dns 500");
  monitor.SetShows(kMonitorDns, false);
  ASSERT_EQ(monitor.Lines().size(), 50u) << "the flood of hidden lines kept every shown one";
  EXPECT_EQ(monitor.Lines().front(), "http 1");

  monitor.SetPaused(true);
  for (int i = 51; i <= 400; ++i) monitor.Add(Of("http " + std::to_string(i), kMonitorHttp));
  monitor.SetPaused(false);
  ASSERT_EQ(monitor.Lines().size(), kMonitorKeptLines);
  EXPECT_EQ(monitor.Lines().front(), "http 301");
  EXPECT_EQ(monitor.Lines().back(), "http 400");
}

TEST(ConsoleMonitorView, ALineIsShownWithItsTimeItsDatesDayFirstAndItsMessageText) {
  // 2026-12-08 14:03:05 local.
  const std::int64_t at = 1796738585;
  MonitorEntry connection{kLine, kMonitorHttp, at, {}};
  EXPECT_EQ(MonitorText(connection),
            "14:03:05  HTTP, Ivan Petrov, IVAN, 10.0.0.5, 07.12.2026, 12:00:01, a.lan, 150, 2048, 300, "
            "http://a.lan/q?x=1,2");
  MonitorEntry session{
      "CLOSE_SESSION, Olga, olga, 10.0.0.7, 12.08.26, 09:15:00, 60000, 10, 20", kMonitorAlways, at, {}};
  EXPECT_EQ(MonitorText(session), "14:03:05  CLOSE_SESSION, Olga, olga, 10.0.0.7, 08.12.2026, 09:15:00, 60000, 10, 20");
  MonitorEntry ticket{"OPEN_TICKET, olga, 08/12/26, 14:03:05", kMonitorAlways, at, {}};
  EXPECT_EQ(MonitorText(ticket), "14:03:05  OPEN_TICKET, olga, 08.12.2026, 14:03:05");

  MonitorEntry refusal{"REFUSED, 10.0.0.9, bob, 493, http://e/a,b", kMonitorHttp, at, "Лимит исчерпан"};
  EXPECT_EQ(MonitorText(refusal), "14:03:05  REFUSED, 10.0.0.9, bob, 493 (Лимит исчерпан), http://e/a,b");
  refusal.message.clear();
  EXPECT_EQ(MonitorText(refusal), "14:03:05  REFUSED, 10.0.0.9, bob, 493, http://e/a,b");

  // Only a date beside a time is one; the URL is never touched.
  MonitorEntry lookalike{"HTTP, 12.08.26, x, 10.0.0.5, 12.08.26, noon, h, 1, 2, 3, http://h/12.08.26, 10:00:00",
                         kMonitorHttp, at, "not a refusal"};
  EXPECT_EQ(MonitorText(lookalike), "14:03:05  " + lookalike.line);
  MonitorEntry refusedLookalike{"REFUSED, 10.0.0.9, bob, admin", kMonitorAlways, at, "text"};
  EXPECT_EQ(MonitorText(refusedLookalike), "14:03:05  REFUSED, 10.0.0.9, bob, admin") << "no number, no text";
}

TEST(ConsoleMonitorView, APushCarriesTheLineItsSwitchTimeAndMessage) {
  const MonitorEntry sent{"REFUSED, 10.0.0.9, bob, 493, http://e/", kMonitorFtp, 1796738585, "Лимит"};
  const MonitorEntry got = MonitorEntryOfPush(MonitorPushPayload(sent));
  EXPECT_EQ(got.line, sent.line);
  EXPECT_EQ(got.monitorSwitch, kMonitorFtp);
  EXPECT_EQ(got.localTime, sent.localTime);
  EXPECT_EQ(got.message, sent.message);

  const MonitorEntry plain = MonitorEntryOfPush("Пропущено строк: 3");
  EXPECT_EQ(plain.line, "Пропущено строк: 3");
  EXPECT_EQ(plain.monitorSwitch, kMonitorAlways);
  EXPECT_EQ(plain.localTime, 0);

  std::string payload = MonitorPushPayload(sent);
  EXPECT_TRUE(MonitorEntryOfPush(payload.substr(0, payload.size() - 1)).line.empty()) << "cut short";
  EXPECT_TRUE(MonitorEntryOfPush(payload + "x").line.empty()) << "bytes left over";
  const MonitorEntry odd = MonitorEntryOfPush(MonitorPushPayload(MonitorEntry{"x", 42, 1, {}}));
  EXPECT_EQ(odd.line, "x");
  EXPECT_EQ(odd.monitorSwitch, kMonitorAlways) << "a switch that does not exist";
}

TEST(ConsoleMonitorView, TheGatewayGivesARefusalTheTextOfItsMessage) {
  const std::string saved = ProgramFolder();
  char pattern[] = "/tmp/brindlex-monitor-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  SetProgramFolder(folder);
  ASSERT_TRUE(EnsureFolder(WwwrootFolder()));
  const std::string line = "REFUSED, 10.0.0.9, bob, 493, http://e/";
  EXPECT_EQ(GatewayMonitorEntry(line, kMonitorHttp, 5).message, "") << "no message file";
  std::ofstream(WwwrootFolder() + "/messages.txt") << "421 Другое\r\n493 Доступ к сайту закрыт.\r\n";
  const MonitorEntry entry = GatewayMonitorEntry(line, kMonitorHttp, 5);
  EXPECT_EQ(entry.line, line);
  EXPECT_EQ(entry.monitorSwitch, kMonitorHttp);
  EXPECT_EQ(entry.localTime, 5);
  EXPECT_EQ(entry.message, "Доступ к сайту закрыт.");
  EXPECT_EQ(GatewayMonitorEntry("REFUSED, 10.0.0.9, bob, 494, http://e/", kMonitorHttp, 5).message, "")
      << "a number the file lacks";
  EXPECT_EQ(GatewayMonitorEntry("REFUSED, 10.0.0.9, admin, 0, admin", kMonitorAlways, 5).message, "");
  EXPECT_EQ(GatewayMonitorEntry("HTTP, a, b, 493, x", kMonitorHttp, 5).message, "");
  SetProgramFolder(saved);
  std::filesystem::remove_all(folder);
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
