#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "console/connections_tree.h"
#include "console_fake_engine.h"

namespace brindlex {
namespace {

using testing::FakeConsoleEngine;

std::vector<ConsoleAddressSession> OneAddress() {
  ConsoleAddressSession address;
  address.handle = 100;
  address.address = 0xC0A80102;  // 192.168.1.2
  address.idle = 65;
  ConsoleUserSession session;
  session.handle = 200;
  session.userName = "Ivan";
  session.login = "ivan";
  session.outgoing = 1500;
  session.incoming = 70000;
  session.timeSeconds = 3725;
  session.idleSeconds = 0;
  session.connections = {{301, "HTTP", 10, 20, "http://a.lan/x"}, {302, "FTP_COMM", 5, 6, ""}};
  ConsoleUserSession closing;
  closing.handle = 210;
  closing.userName = "Petr";
  closing.login = "petr";
  closing.timeSeconds = 40;
  closing.idleSeconds = 30;
  closing.closeRequested = true;
  address.userSessions = {session, closing};
  address.unattributed = {{400, "SOCKS5", 1, 2, ""}};
  return {address};
}

TEST(ConsoleConnectionsTree, LinesOfAddressesSessionsAndConnections) {
  const std::vector<TreeLine> lines = TreeLines(OneAddress());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].text, "192.168.1.2, idle=0:01:05");
  EXPECT_EQ(lines[1].text, "Ivan (ivan), 1500/70000, time=1:02:05, idle=0:00:00");
  EXPECT_EQ(lines[2].text, "HTTP, 10/20, http://a.lan/x");
  EXPECT_EQ(lines[3].text, "FTP_COMM, 5/6, ");
  EXPECT_EQ(lines[4].text, "Petr (petr), 0/0, time=0:00:40, idle=0:00:30");
  EXPECT_EQ(lines[5].text, "SOCKS5, 1/2, ");
  const std::vector<int> depths = {0, 1, 2, 2, 1, 1};
  const std::vector<TreeLineKind> kinds = {TreeLineKind::kAddress,     TreeLineKind::kUserSession,
                                           TreeLineKind::kConnection,  TreeLineKind::kConnection,
                                           TreeLineKind::kUserSession, TreeLineKind::kConnection};
  const std::vector<std::uint64_t> handles = {100, 200, 301, 302, 210, 400};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].depth, depths[i]) << i;
    EXPECT_EQ(lines[i].kind, kinds[i]) << i;
    EXPECT_EQ(lines[i].handle, handles[i]) << i;
    EXPECT_EQ(lines[i].grey, i == 4) << i;
  }
}

TEST(ConsoleConnectionsTree, AClosingAddressShowsItsIdleAsMinusOne) {
  std::vector<ConsoleAddressSession> tree = OneAddress();
  tree[0].idle = -1;
  EXPECT_EQ(TreeLines(tree)[0].text, "192.168.1.2, idle=-1");
}

TEST(ConsoleConnectionsTree, TextsOfTheEmptyTreeAndOfTheButton) {
  EXPECT_EQ(NoActiveUsersText(), "Нет активных пользователей");
  EXPECT_EQ(TreeActionCaption(TreeLineKind::kAddress), "Завершить работу");
  EXPECT_EQ(TreeActionCaption(TreeLineKind::kUserSession), "Завершить сеанс");
  EXPECT_EQ(TreeActionCaption(TreeLineKind::kConnection), "Разорвать соединение");
}

TEST(ConsoleConnectionsTree, ABusyLockKeepsTheLinesShown) {
  FakeConsoleEngine engine;
  ConnectionsTree tree;
  engine.tree = OneAddress();
  EXPECT_TRUE(tree.Refresh(engine));
  EXPECT_EQ(tree.Lines().size(), 6u);
  engine.tree.reset();
  EXPECT_FALSE(tree.Refresh(engine));
  EXPECT_EQ(tree.Lines().size(), 6u);
  engine.tree = std::vector<ConsoleAddressSession>{};
  EXPECT_TRUE(tree.Refresh(engine));
  EXPECT_TRUE(tree.Lines().empty());
}

TEST(ConsoleConnectionsTree, ClicksSelectByLineAndScrolling) {
  FakeConsoleEngine engine;
  engine.tree = OneAddress();
  ConnectionsTree tree;
  tree.Refresh(engine);
  EXPECT_EQ(tree.HiddenLines(48), 3u);
  EXPECT_EQ(tree.HiddenLines(200), 0u);
  EXPECT_FALSE(tree.ButtonShown());
  ASSERT_TRUE(tree.Click(20, 0));
  EXPECT_EQ(tree.Selection()->handle, 200u);
  ASSERT_TRUE(tree.Click(15, 2));
  EXPECT_EQ(tree.Selection()->handle, 301u);
  EXPECT_TRUE(tree.ButtonShown());
  EXPECT_FALSE(tree.Click(16 * 6, 0));
  EXPECT_EQ(tree.Selection()->handle, 301u) << "a click below the lines changes nothing";
}

TEST(ConsoleConnectionsTree, TheButtonHidesAfterMoreThanFiveSeconds) {
  FakeConsoleEngine engine;
  engine.tree = OneAddress();
  ConnectionsTree tree;
  tree.Refresh(engine);
  tree.Click(0, 0);
  for (int second = 1; second <= 5; ++second) {
    tree.Tick();
    EXPECT_TRUE(tree.ButtonShown()) << second;
    EXPECT_EQ(tree.ButtonSeconds(), second);
  }
  tree.Tick();
  EXPECT_FALSE(tree.ButtonShown());
  tree.Press(engine);
  EXPECT_TRUE(engine.treeCloses.empty()) << "a hidden button does nothing";

  tree.Click(0, 0);
  EXPECT_EQ(tree.ButtonSeconds(), 0) << "a new click starts the count again";
  EXPECT_TRUE(tree.ButtonShown());
}

TEST(ConsoleConnectionsTree, PressingClosesTheSelectedRecordAndRepaints) {
  FakeConsoleEngine engine;
  engine.tree = OneAddress();
  ConnectionsTree tree;
  tree.Refresh(engine);
  tree.Click(16 * 4 + 3, 0);  // Petr's session
  const int requests = engine.treeRequests;
  tree.Press(engine);
  ASSERT_EQ(engine.treeCloses.size(), 1u);
  EXPECT_EQ(engine.treeCloses[0].kind, TreeLineKind::kUserSession);
  EXPECT_EQ(engine.treeCloses[0].handle, 210u);
  EXPECT_FALSE(tree.ButtonShown());
  EXPECT_EQ(engine.treeRequests, requests + 1);
}

}  // namespace
}  // namespace brindlex
