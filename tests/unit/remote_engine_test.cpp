// The console's engine over the channel, without the socket: RemoteEngine ->
// a link that hands each call straight to the gateway's dispatcher -> a fake
// engine that records what reached it.
#include "console/remote_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "console/admin_calls.h"
#include "console/admin_dispatch.h"
#include "console/admin_records.h"
#include "console/monitor_view.h"
#include "core/ini_file.h"
#include "core/strings.h"
#include "tests/unit/admin_samples.h"
#include "tests/unit/console_fake_engine.h"

namespace brindlex::testing {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// The fake engine with the configuration page and the file-carrying calls
// recorded too.
class RecordingEngine : public FakeConsoleEngine {
 public:
  // What the last command was given, as text a test compares.
  std::vector<std::string> log;
  int onMainThread = 0;  // calls that ran inside runOnMainThread
  bool insideMain = false;
  std::vector<bool> statisticsOnMain;

  std::vector<ConfigControlValue> configValues;
  ConfigApplyOutcome applyOutcome;
  ConfigEditOutcome editOutcome;
  std::optional<GroupRecord> group;
  std::optional<ConsoleUserDraft> draft;
  GroupRecord draftGroupSeen;
  ConsoleUserDraft draftUserSeen;
  std::optional<std::uint32_t> savedUserId = 99;
  std::vector<ConfigControlValue> appliedControls;
  std::vector<StatisticsRow> rows;
  StatisticsQuery querySeen;
  std::vector<RebuildProgress> progressToSend;
  std::string objectPath;  // the copy ExportCacheObject "wrote"
  std::string copyText;    // what SaveConfigCopy writes
  bool copySaves = true;
  std::string copyPathSeen;
  int copyFolderMode = -1;  // of the folder the engine was given a path in
  std::string loadedText;
  ConfigEditOutcome loadOutcome;  // what LoadConfigCopy answers
  bool monitorShows = true;

  void Note(const std::string& line) { log.push_back(line); }

  void RebuildCounters(RebuildView view, std::int64_t first, std::int64_t last,
                       const std::function<void(const std::string&, std::int64_t, std::int64_t, std::int64_t,
                                                std::int64_t)>& progress) override {
    FakeConsoleEngine::RebuildCounters(view, first, last, progress);
    for (const RebuildProgress& step : progressToSend) {
      progress(step.file, step.fileDone, step.fileSize, step.allDone, step.allSize);
    }
  }
  bool MonitorShows(int monitorSwitch) override {
    Note("MonitorShows " + std::to_string(monitorSwitch));
    return monitorShows;
  }
  void SetMonitorShows(int monitorSwitch, bool shows) override {
    Note("SetMonitorShows " + std::to_string(monitorSwitch) + " " + std::to_string(shows));
  }
  std::string ExportCacheObject(const std::string& url) override {
    Note("Export " + url);
    return objectPath;
  }
  void ResetCacheFigures() override { Note("ResetCacheFigures"); }
  std::vector<StatisticsRow> Statistics(const StatisticsQuery& query, const std::function<bool()>& abort) override {
    querySeen = query;
    statisticsOnMain.push_back(insideMain);
    // A reader asks between reads; an abort ends the rows early.
    std::vector<StatisticsRow> read;
    for (const StatisticsRow& row : rows) {
      if (abort()) break;
      read.push_back(row);
    }
    return read;
  }
  std::vector<ConfigControlValue> ConfigValues(const std::vector<std::string>& names) override {
    std::string line = "ConfigValues";
    for (const std::string& name : names) line += " " + name;
    Note(line);
    return configValues;
  }
  ConfigApplyOutcome ApplyConfigControls(const std::vector<ConfigControlValue>& controls, int mask) override {
    appliedControls = controls;
    Note("Apply mask " + std::to_string(mask));
    return applyOutcome;
  }
  bool AdminPasswordRequired() override { return true; }
  bool AdminPasswordMatches(const std::string& entered) override { return entered == "Пароль"; }
  std::optional<GroupRecord> ConfigGroup(std::uint32_t number) override {
    Note("ConfigGroup " + std::to_string(number));
    return group;
  }
  GroupRecord NewConfigGroup() override { return group.value_or(GroupRecord{}); }
  ConfigEditOutcome SaveConfigGroup(const GroupRecord& d, bool isNew) override {
    draftGroupSeen = d;
    Note("SaveConfigGroup " + std::to_string(isNew));
    return editOutcome;
  }
  ConfigEditOutcome CheckConfigGroupDeletion(std::uint32_t number) override {
    Note("CheckConfigGroupDeletion " + std::to_string(number));
    return editOutcome;
  }
  bool DeleteConfigGroup(std::uint32_t number) override {
    Note("DeleteConfigGroup " + std::to_string(number));
    return number == 5;
  }
  void ApplyGroupRulesToUsers(std::uint32_t number) override { Note("RulesToUsers " + std::to_string(number)); }
  std::optional<ConsoleUserDraft> ConfigUser(std::uint32_t id) override {
    Note("ConfigUser " + std::to_string(id));
    return draft;
  }
  std::optional<ConsoleUserDraft> NewConfigUser(std::uint32_t groupNumber) override {
    Note("NewConfigUser " + std::to_string(groupNumber));
    return draft;
  }
  ConfigEditOutcome SaveConfigUser(const ConsoleUserDraft& d, std::optional<std::uint32_t> id) override {
    draftUserSeen = d;
    savedUserId = id;
    return editOutcome;
  }
  bool DeleteConfigUser(std::uint32_t id) override {
    Note("DeleteConfigUser " + std::to_string(id));
    return id == 6;
  }
  void MoveConfigUser(std::uint32_t id, std::uint32_t groupNumber) override {
    Note("MoveConfigUser " + std::to_string(id) + " " + std::to_string(groupNumber));
  }
  void ApplyGroupRulesToUser(std::uint32_t id) override { Note("RulesToUser " + std::to_string(id)); }
  std::string MacAddressOf(const std::string& address) override {
    return address == "192.168.0.7" ? "00A0C9123456" : "";
  }
  bool SaveConfigCopy(const std::string& path) override {
    copyPathSeen = path;
    struct stat folder {};
    copyFolderMode =
        ::stat(std::filesystem::path(path).parent_path().c_str(), &folder) == 0 ? folder.st_mode & 0777 : -1;
    if (copySaves) WriteText(path, copyText);
    return copySaves;
  }
  ConfigEditOutcome LoadConfigCopy(const std::string& path) override {
    copyPathSeen = path;
    loadedText = ReadText(path);
    return loadOutcome;
  }
};

// The channel without its socket: each call is served at once, on this
// thread; runOnMainThread marks the engine as running on the main thread.
class DirectLink : public AdminLink {
 public:
  explicit DirectLink(RecordingEngine& engine) : engine_(engine) {}

  bool down = false;
  std::optional<std::string> forcedReply;  // a reply that replaces the gateway's
  std::vector<std::uint16_t> calls;
  std::vector<std::string> progressFrames;

  std::optional<std::string> Call(std::uint16_t call, std::string_view args, const AdminCallHooks& hooks) override {
    calls.push_back(call);
    if (down) return std::nullopt;
    AdminCallContext context;
    context.runOnMainThread = [this](const std::function<void()>& work) {
      ++engine_.onMainThread;
      engine_.insideMain = true;
      work();
      engine_.insideMain = false;
    };
    context.progress = [&](std::string payload) {
      progressFrames.push_back(payload);
      if (hooks.progress) hooks.progress(payload);
    };
    context.aborted = [&] { return hooks.abort && hooks.abort(); };
    std::optional<std::string> reply = ServeAdminCall(engine_, call, args, context);
    if (forcedReply) return forcedReply;
    return reply;
  }
  void DeliverPushes(const std::function<void(AdminPush, std::string_view)>&) override {}

 private:
  RecordingEngine& engine_;
};

class RemoteEngineTest : public ::testing::Test {
 protected:
  static std::string MakeFolder() {
    char pattern[] = "/tmp/brindlex_remote_XXXXXX";
    return ::mkdtemp(pattern) ? std::string(pattern) : std::string();
  }
  void SetUp() override { ASSERT_FALSE(dir_.empty()); }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Files in the system's temporary folder that the dispatcher made.
  static std::size_t GatewayTemporaryFiles() {
    std::size_t count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), error)) {
      if (entry.path().filename().string().starts_with("brindlex-admin-")) ++count;
    }
    return count;
  }

  std::string dir_ = MakeFolder();
  RecordingEngine engine_;
  DirectLink link_{engine_};
  RemoteEngine remote_{link_, dir_};
};

TEST_F(RemoteEngineTest, SnapshotsAndListsCrossUnchanged) {
  engine_.users = SampleSnapshot();
  engine_.tree = SampleTree();
  engine_.status = {3, 17};
  engine_.speed = {-1, 2048, 0, 77};
  engine_.cacheEntries = {{"http://example.test/a.css", 512, 1700000000, 1700000001, 1700000002, -1}};
  engine_.cacheFigures = {10, 20, 30, 40, 1000000};
  engine_.filterLists = {true, {{"ads", 1, 0}}, {{"*.test", 0, 1}}};
  engine_.filterChoice = {true, false, FilterAdditionScope::kUser, "Анна", "Склад"};
  engine_.relays = {{"example.test", "smtp.example.test", 2525, "pop.example.test", 1110, true}};
  engine_.portMappings = {SamplePortRule("dns")};
  engine_.portMapUsers = {{"  По IP-адресу", ""}, {"Анна (anna)", "anna"}};
  engine_.localAddresses = {0xC0A80001u, 0x0A000001u};
  engine_.tickets[4] = SampleTicket();

  EXPECT_TRUE(Same(remote_.Users(), engine_.users));
  EXPECT_TRUE(Same(remote_.SessionTree(), engine_.tree));
  EXPECT_TRUE(Same(remote_.Status(), engine_.status));
  EXPECT_EQ(remote_.SpeedHistory(SpeedSubject::kGroup, 3), engine_.speed);
  EXPECT_TRUE(Same(remote_.CacheEntries(), engine_.cacheEntries));
  EXPECT_TRUE(Same(remote_.Cache(), engine_.cacheFigures));
  EXPECT_EQ(remote_.UserReport(8), "report of 8");
  EXPECT_EQ(remote_.GlobalFilterLists(), engine_.filterLists);
  EXPECT_TRUE(Same(remote_.FilterChoice(StatisticsSubject::kGroup, 3), engine_.filterChoice));
  ASSERT_EQ(engine_.filterChoiceAsked.size(), 1u);
  EXPECT_EQ(engine_.filterChoiceAsked[0], std::make_pair(StatisticsSubject::kGroup, 3u));
  EXPECT_TRUE(Same(remote_.MailRelays(), engine_.relays));
  EXPECT_TRUE(Same(remote_.PortMappings(), engine_.portMappings));
  EXPECT_TRUE(Same(remote_.PortMapUsers(), engine_.portMapUsers));
  EXPECT_EQ(remote_.LocalAddresses(), engine_.localAddresses);
  EXPECT_TRUE(Same(remote_.Ticket(4), std::optional<ConsoleTicket>(SampleTicket())));
  EXPECT_FALSE(remote_.Ticket(5).has_value());

  // A busy accounts lock gives no tree, and the console keeps what it showed.
  engine_.tree.reset();
  EXPECT_FALSE(remote_.SessionTree().has_value());
  EXPECT_EQ(engine_.treeRequests, 2);
}

TEST_F(RemoteEngineTest, CommandsReachTheEngineWithTheirArguments) {
  remote_.CloseUserSessions(7);
  remote_.ToggleUserDisabled(8);
  remote_.CloseTreeLine(TreeLineKind::kConnection, 0xFFEEDDCCBBAA0011ull);
  EXPECT_TRUE(remote_.DeleteCacheEntry("http://example.test/старое.gif"));
  EXPECT_TRUE(remote_.SendUserMessage(4, "Здравствуйте!\r\nСчёт оплачен."));
  remote_.ResetCacheFigures();
  EXPECT_TRUE(remote_.MonitorShows(3));
  engine_.monitorShows = false;
  EXPECT_FALSE(remote_.MonitorShows(-1));
  remote_.SetMonitorShows(6, true);
  const ConsoleFilterLists lists{true, {{"casino", 1, 0}}, {}};
  remote_.ApplyGlobalFilterLists(lists);
  engine_.addFilterAccepts = false;
  EXPECT_FALSE(remote_.AddDenyFilter(StatisticsSubject::kUser, 2, FilterAdditionScope::kGroup, 3, ".exe"));
  const MailRuleList relays{{"mail.test", "10.0.0.2", 25, "", 0, false}};
  EXPECT_TRUE(remote_.ApplyMailRelays(relays));
  std::vector<PortMapRule> rules{SamplePortRule("rdp")};
  rules[0].socket = std::make_shared<PortMapSocket>(-1);
  EXPECT_TRUE(remote_.ApplyPortMappings(rules));
  remote_.RebuildCounters(RebuildView::kInterval, 1706745600, 1709251199, nullptr);

  EXPECT_EQ(engine_.closedUsers, std::vector<std::uint32_t>{7});
  EXPECT_EQ(engine_.toggledUsers, std::vector<std::uint32_t>{8});
  ASSERT_EQ(engine_.treeCloses.size(), 1u);
  EXPECT_EQ(engine_.treeCloses[0].kind, TreeLineKind::kConnection);
  EXPECT_EQ(engine_.treeCloses[0].handle, 0xFFEEDDCCBBAA0011ull);
  EXPECT_EQ(engine_.deletedUrls, std::vector<std::string>{"http://example.test/старое.gif"});
  ASSERT_EQ(engine_.messages.size(), 1u);
  EXPECT_EQ(engine_.messages[0], std::make_pair(4u, std::string("Здравствуйте!\r\nСчёт оплачен.")));
  EXPECT_EQ(engine_.log, (std::vector<std::string>{"ResetCacheFigures", "MonitorShows 3", "MonitorShows -1",
                                                   "SetMonitorShows 6 1"}));
  EXPECT_EQ(engine_.appliedFilterLists, std::vector<ConsoleFilterLists>{lists});
  ASSERT_EQ(engine_.addedFilters.size(), 1u);
  const auto& added = engine_.addedFilters[0];
  EXPECT_EQ(std::tie(added.subject, added.id, added.scope, added.kind, added.pattern),
            std::make_tuple(StatisticsSubject::kUser, 2u, FilterAdditionScope::kGroup, 3, std::string(".exe")));
  ASSERT_EQ(engine_.appliedRelays.size(), 1u);
  EXPECT_TRUE(Same(engine_.appliedRelays[0], relays));
  ASSERT_EQ(engine_.appliedPortMappings.size(), 1u);
  EXPECT_TRUE(Same(engine_.appliedPortMappings[0], rules));
  EXPECT_EQ(engine_.appliedPortMappings[0][0].socket, nullptr);
  ASSERT_EQ(engine_.rebuilds.size(), 1u);
  EXPECT_EQ(engine_.rebuilds[0].view, RebuildView::kInterval);
  EXPECT_EQ(engine_.rebuilds[0].first, 1706745600);
  EXPECT_EQ(engine_.rebuilds[0].last, 1709251199);
}

TEST_F(RemoteEngineTest, TheConfigurationPageCrossesBothWays) {
  engine_.configValues = {{"EdHttpPort", "3128", {}, ""}, {"LbInInterface", "", {"192.168.0.1"}, ""}};
  engine_.applyOutcome = {
      false, "EdHttpPort", {"Ошибка преобразования", "Порт занят"}, {{"CbEnableHTTP", "1", {}, ""}}};
  engine_.editOutcome = {false, {"Предупреждение", "Группа не пуста"}, 12};
  engine_.group = SampleGroup();
  engine_.draft = SampleDraft();

  EXPECT_EQ(remote_.ConfigValues({"EdHttpPort", "LbInInterface"}), engine_.configValues);
  const std::vector<ConfigControlValue> controls{{"EdPasswordAdmin", "new", {}, "new"}, {"CbEnableFTP", "0", {}, ""}};
  EXPECT_TRUE(Same(remote_.ApplyConfigControls(controls, 4 | 512), engine_.applyOutcome));
  EXPECT_EQ(engine_.appliedControls, controls);
  EXPECT_TRUE(remote_.AdminPasswordRequired());
  EXPECT_TRUE(remote_.AdminPasswordMatches("Пароль"));
  EXPECT_FALSE(remote_.AdminPasswordMatches("пароль"));

  EXPECT_TRUE(Same(remote_.ConfigGroup(12), engine_.group));
  EXPECT_EQ(remote_.NewConfigGroup(), *engine_.group);
  GroupRecord edited = SampleGroup();
  edited.name = "Новая";
  EXPECT_TRUE(Same(remote_.SaveConfigGroup(edited, true), engine_.editOutcome));
  EXPECT_EQ(engine_.draftGroupSeen, edited);
  EXPECT_TRUE(Same(remote_.CheckConfigGroupDeletion(12), engine_.editOutcome));
  EXPECT_TRUE(remote_.DeleteConfigGroup(5));
  EXPECT_FALSE(remote_.DeleteConfigGroup(4));
  remote_.ApplyGroupRulesToUsers(12);

  EXPECT_TRUE(Same(remote_.ConfigUser(3), engine_.draft));
  EXPECT_TRUE(Same(remote_.NewConfigUser(12), engine_.draft));
  ConsoleUserDraft user = SampleDraft();
  user.emails.push_back("третий@example.test");
  EXPECT_TRUE(Same(remote_.SaveConfigUser(user, 3u), engine_.editOutcome));
  EXPECT_EQ(engine_.draftUserSeen, user);
  EXPECT_EQ(engine_.savedUserId, std::optional<std::uint32_t>(3));
  remote_.SaveConfigUser(user, std::nullopt);
  EXPECT_EQ(engine_.savedUserId, std::nullopt);
  EXPECT_TRUE(remote_.DeleteConfigUser(6));
  EXPECT_FALSE(remote_.DeleteConfigUser(7));
  remote_.MoveConfigUser(3, 12);
  remote_.ApplyGroupRulesToUser(3);
  EXPECT_EQ(remote_.MacAddressOf("192.168.0.7"), "00A0C9123456");
  EXPECT_EQ(remote_.MacAddressOf("nonsense"), "");

  engine_.group.reset();
  engine_.draft.reset();
  EXPECT_FALSE(remote_.ConfigGroup(12).has_value());
  EXPECT_FALSE(remote_.ConfigUser(3).has_value());

  EXPECT_EQ(engine_.log,
            (std::vector<std::string>{"ConfigValues EdHttpPort LbInInterface", "Apply mask 516", "ConfigGroup 12",
                                      "SaveConfigGroup 1", "CheckConfigGroupDeletion 12", "DeleteConfigGroup 5",
                                      "DeleteConfigGroup 4", "RulesToUsers 12", "ConfigUser 3", "NewConfigUser 12",
                                      "DeleteConfigUser 6", "DeleteConfigUser 7", "MoveConfigUser 3 12",
                                      "RulesToUser 3", "ConfigGroup 12", "ConfigUser 3"}));
}

TEST_F(RemoteEngineTest, ASubscriptionIsAppliedWithTheEntryTheGatewaySettled) {
  TicketEntry entry{"100", "", "60", "12.5", ""};
  SubscriptionOutcome outcome = remote_.ApplyTicket(4, entry, true);
  EXPECT_TRUE(outcome.edit.ok);
  EXPECT_EQ(outcome.event, kAddTicketEvent);
  ASSERT_EQ(engine_.ticketApplies.size(), 1u);
  EXPECT_EQ(engine_.ticketApplies[0].userId, 4u);
  EXPECT_TRUE(engine_.ticketApplies[0].editDirectly);
  EXPECT_TRUE(Same(engine_.ticketApplies[0].entry, TicketEntry{"100", "", "60", "12.5", ""}));
  EXPECT_EQ(remote_.CloseTicket(4).event, kCloseTicketEvent);
  EXPECT_EQ(engine_.ticketCloses, std::vector<std::uint32_t>{4});
}

// The fake records the entry; an engine that settles the empty fields in
// place has them come back to the console's entry.
TEST_F(RemoteEngineTest, AnEntryChangedByTheGatewayComesBackInPlace) {
  class SettlingEngine : public RecordingEngine {
   public:
    SubscriptionOutcome ApplyTicket(std::uint32_t, TicketEntry& entry, bool) override {
      for (std::string* field :
           {&entry.outgoingMb, &entry.incomingMb, &entry.minutes, &entry.money, &entry.nationalMoney}) {
        if (field->empty()) *field = "0";
      }
      return {{}, kOpenTicketEvent, "OPEN_TICKET, anna"};
    }
  } settling;
  DirectLink link(settling);
  RemoteEngine remote(link, dir_);
  TicketEntry entry{"5", "", "", "1", ""};
  EXPECT_EQ(remote.ApplyTicket(2, entry, false).monitorText, "OPEN_TICKET, anna");
  EXPECT_TRUE(Same(entry, TicketEntry{"5", "0", "0", "1", "0"}));
}

TEST_F(RemoteEngineTest, StatisticsRunOnTheCallingThreadAndEverythingElseOnTheMainThread) {
  engine_.rows = {{"01.02.24", 100, 20, 3000, 40}, {"02.02.24", 150, 30, 4000, 60}};
  remote_.Users();
  remote_.CloseUserSessions(1);
  remote_.Statistics(SampleQuery(), [] { return false; });
  remote_.ConfigValues({"EdHttpPort"});
  EXPECT_EQ(engine_.onMainThread, 3);
  EXPECT_EQ(engine_.statisticsOnMain, std::vector<bool>{false});
}

TEST_F(RemoteEngineTest, TheQueryCrossesAndAnAbortReachesTheStatistics) {
  engine_.rows = {{"a", 1, 1, 1, 10}, {"b", 2, 2, 2, 20}, {"c", 3, 3, 3, 70}};
  std::vector<StatisticsRow> whole = remote_.Statistics(SampleQuery(), [] { return false; });
  EXPECT_TRUE(Same(whole, engine_.rows));
  EXPECT_TRUE(Same(engine_.querySeen, SampleQuery()));

  // The administrator stops the load after the first row was read.
  int asked = 0;
  std::vector<StatisticsRow> part = remote_.Statistics(SampleQuery(), [&] { return ++asked > 1; });
  ASSERT_EQ(part.size(), 1u);
  EXPECT_EQ(part[0].label, "a");
  EXPECT_EQ(asked, 2);
}

TEST_F(RemoteEngineTest, RebuildProgressReachesTheCallbackStepByStep) {
  engine_.progressToSend = {{"01-02-24-Brindlex.lgs", 0, 5000, 0, 12000},
                            {"01-02-24-Brindlex.lgs", 5000, 5000, 5000, 12000},
                            {"02-02-24-Brindlex.lgs", 7000, 7000, 12000, 12000}};
  std::vector<RebuildProgress> seen;
  remote_.RebuildCounters(RebuildView::kMonth, 0, 0,
                          [&](const std::string& file, std::int64_t fileDone, std::int64_t fileSize,
                              std::int64_t allDone, std::int64_t allSize) {
                            seen.push_back({file, fileDone, fileSize, allDone, allSize});
                          });
  EXPECT_EQ(seen, engine_.progressToSend);
  EXPECT_EQ(link_.progressFrames.size(), 3u);
}

TEST_F(RemoteEngineTest, WithTheLinkDownEveryMethodGivesItsSafeAnswer) {
  link_.down = true;
  engine_.users = SampleSnapshot();
  const ConfigBox unreachable{Str(18), Str(1224)};

  EXPECT_TRUE(remote_.Users().users.empty());
  EXPECT_FALSE(remote_.SessionTree().has_value());
  EXPECT_TRUE(Same(remote_.Status(), StatusFigures{}));
  EXPECT_TRUE(remote_.SpeedHistory(SpeedSubject::kUser, 1).empty());
  EXPECT_FALSE(remote_.MonitorShows(1));
  EXPECT_TRUE(remote_.CacheEntries().empty());
  EXPECT_TRUE(Same(remote_.Cache(), CacheFigures{}));
  EXPECT_FALSE(remote_.DeleteCacheEntry("http://example.test/"));
  EXPECT_EQ(remote_.ExportCacheObject("http://example.test/a.png"), "");
  EXPECT_EQ(remote_.UserReport(1), "");
  EXPECT_FALSE(remote_.SendUserMessage(1, "text"));
  EXPECT_TRUE(remote_.Statistics(SampleQuery(), [] { return false; }).empty());
  EXPECT_TRUE(remote_.ConfigValues({"EdHttpPort"}).empty());
  ConfigApplyOutcome applied = remote_.ApplyConfigControls({{"EdHttpPort", "3128", {}, ""}}, 4);
  EXPECT_FALSE(applied.ok);
  EXPECT_TRUE(Same(applied.box, unreachable));
  EXPECT_TRUE(applied.saved.empty());
  // Without the link the configuration page stays locked.
  EXPECT_TRUE(remote_.AdminPasswordRequired());
  EXPECT_FALSE(remote_.AdminPasswordMatches("Пароль"));
  EXPECT_FALSE(remote_.ConfigGroup(0).has_value());
  for (const ConfigEditOutcome& outcome :
       {remote_.SaveConfigGroup(SampleGroup(), false), remote_.CheckConfigGroupDeletion(3),
        remote_.SaveConfigUser(SampleDraft(), 1u)}) {
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(Same(outcome.box, unreachable));
  }
  EXPECT_FALSE(remote_.DeleteConfigGroup(5));
  EXPECT_FALSE(remote_.ConfigUser(1).has_value());
  EXPECT_FALSE(remote_.NewConfigUser(0).has_value());
  EXPECT_FALSE(remote_.DeleteConfigUser(6));
  EXPECT_EQ(remote_.MacAddressOf("192.168.0.7"), "");
  EXPECT_FALSE(remote_.SaveConfigCopy(Path("copy.ini")));
  EXPECT_FALSE(std::filesystem::exists(Path("copy.ini")));
  EXPECT_EQ(remote_.GlobalFilterLists(), ConsoleFilterLists{});
  EXPECT_FALSE(remote_.AddDenyFilter(StatisticsSubject::kAll, 0, FilterAdditionScope::kGlobal, 0, "x"));
  EXPECT_TRUE(remote_.MailRelays().empty());
  EXPECT_FALSE(remote_.ApplyMailRelays({}));
  EXPECT_TRUE(remote_.PortMappings().empty());
  EXPECT_TRUE(remote_.PortMapUsers().empty());
  EXPECT_TRUE(remote_.LocalAddresses().empty());
  EXPECT_FALSE(remote_.ApplyPortMappings({}));
  EXPECT_FALSE(remote_.Ticket(1).has_value());
  TicketEntry entry{"1", "", "", "", ""};
  for (const SubscriptionOutcome& outcome : {remote_.ApplyTicket(1, entry, false), remote_.CloseTicket(1)}) {
    EXPECT_FALSE(outcome.edit.ok);
    EXPECT_EQ(outcome.edit.message, Str(1224));
    EXPECT_EQ(outcome.event, "");
  }
  EXPECT_TRUE(Same(entry, TicketEntry{"1", "", "", "", ""}));
  // Commands are sent and lost; nothing reached the engine.
  remote_.CloseUserSessions(1);
  remote_.RebuildCounters(RebuildView::kDay, 0, 0, nullptr);
  EXPECT_TRUE(engine_.closedUsers.empty());
  EXPECT_TRUE(engine_.rebuilds.empty());
  EXPECT_FALSE(link_.calls.empty());
}

TEST_F(RemoteEngineTest, TheReasonsBehindAFailureCrossAndNoAnswerIsItsOwnReason) {
  engine_.mailRefusal = MailRefusal::kNoServer;
  engine_.phoneBook = {{"backup", "office"}, "", "/etc/ppp/peers"};
  EXPECT_EQ(remote_.UserMessageRefusal(3), MailRefusal::kNoServer);
  const DialUpPhoneBook book = remote_.DialUpEntries();
  EXPECT_EQ(book.entries, engine_.phoneBook.entries);
  EXPECT_EQ(book.place, "/etc/ppp/peers");
  EXPECT_EQ(book.unusable, "");
  engine_.phoneBook = {{}, "нет программы pppd", "/etc/ppp/peers"};
  EXPECT_EQ(remote_.DialUpEntries().unusable, "нет программы pppd");

  // A reason the console does not know, or none at all, is "no answer".
  link_.forcedReply = std::string("\x09", 1);
  EXPECT_EQ(remote_.UserMessageRefusal(3), MailRefusal::kNoAnswer);
  link_.forcedReply.reset();
  link_.down = true;
  EXPECT_EQ(remote_.UserMessageRefusal(3), MailRefusal::kNoAnswer);
  EXPECT_TRUE(remote_.DialUpEntries().entries.empty());
}

TEST_F(RemoteEngineTest, AReplyThatDoesNotDecodeCountsAsNoReply) {
  engine_.users = SampleSnapshot();
  engine_.tickets[1] = SampleTicket();
  link_.forcedReply = std::string("\x07", 1);
  EXPECT_TRUE(remote_.Users().users.empty());
  EXPECT_FALSE(remote_.Ticket(1).has_value());
  EXPECT_FALSE(remote_.CheckConfigGroupDeletion(3).ok);
  // A whole reply with a byte too many is as bad as a cut one.
  link_.forcedReply = Encode(true) + '\0';
  EXPECT_FALSE(remote_.DeleteCacheEntry("http://example.test/"));
  link_.forcedReply = Encode(StatusFigures{5, 6});
  EXPECT_EQ(remote_.Status().connections, 6);
}

TEST_F(RemoteEngineTest, ArgumentsThatDoNotDecodeAreServedNothing) {
  AdminCallContext context;
  int ran = 0;
  context.runOnMainThread = [&](const std::function<void()>& work) {
    ++ran;
    work();
  };
  auto serve = [&](AdminCall call, const std::string& args) {
    return ServeAdminCall(engine_, static_cast<std::uint16_t>(call), args, context);
  };
  const std::string userId = Encode(std::uint32_t{4});
  EXPECT_TRUE(serve(AdminCall::kCloseUserSessions, userId).has_value());
  EXPECT_EQ(serve(AdminCall::kCloseUserSessions, userId.substr(0, 3)), std::nullopt);
  EXPECT_EQ(serve(AdminCall::kCloseUserSessions, userId + "x"), std::nullopt);
  EXPECT_EQ(serve(AdminCall::kUsers, "x"), std::nullopt);
  EXPECT_EQ(serve(AdminCall::kCloseTreeLine, Encode(std::uint8_t{3}, std::uint64_t{1})), std::nullopt);
  EXPECT_EQ(serve(AdminCall::kAddDenyFilter,
                  Encode(std::uint8_t{0}, std::uint32_t{1}, std::uint8_t{0}, std::int32_t{0}, std::string("x"))),
            std::nullopt);
  EXPECT_EQ(serve(AdminCall::kStatistics, Encode(SampleQuery()).substr(1)), std::nullopt);
  EXPECT_EQ(serve(AdminCall::kSaveConfigCopy, "x"), std::nullopt);
  EXPECT_EQ(serve(AdminCall::kApplyConfigCopy, Encode(std::string("ab")).substr(0, 5)), std::nullopt);
  // Unknown and retired numbers, and the gateway program's own calls, are
  // not the dispatcher's.
  for (std::uint16_t call : {0, 37, 199, 200, 201, 65535}) {
    EXPECT_EQ(ServeAdminCall(engine_, call, "", context), std::nullopt) << call;
  }
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(engine_.closedUsers, std::vector<std::uint32_t>{4});
  EXPECT_TRUE(engine_.treeCloses.empty());
  EXPECT_TRUE(engine_.addedFilters.empty());
}

TEST_F(RemoteEngineTest, ACacheObjectArrivesAsBytesInThePrivateFolder) {
  const std::string body("\x89PNG\r\n\x1a\n\0\x01 image", 17);
  engine_.objectPath = Path("gateway-view.png");
  WriteText(engine_.objectPath, body);

  const std::string path = remote_.ExportCacheObject("http://example.test/img/logo.png?size=2");
  const std::string folder = dir_ + "/brindlex-console-" + std::to_string(::getuid());
  EXPECT_EQ(path, folder + "/~view.png");
  EXPECT_EQ(ReadText(path), body);
  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  // The gateway's own copy is not left behind.
  EXPECT_FALSE(std::filesystem::exists(engine_.objectPath));
  EXPECT_EQ(engine_.log, std::vector<std::string>{"Export http://example.test/img/logo.png?size=2"});

  // The next object replaces the copy, whatever its extension.
  WriteText(engine_.objectPath, "body { color: red }");
  const std::string next = remote_.ExportCacheObject("http://example.test/site.css");
  EXPECT_EQ(next, folder + "/~view.css");
  EXPECT_EQ(ReadText(next), "body { color: red }");
  EXPECT_FALSE(std::filesystem::exists(path));

  // A gone object gives no path, and a folder that is not the user's alone
  // is refused.
  engine_.objectPath.clear();
  EXPECT_EQ(remote_.ExportCacheObject("http://example.test/gone.png"), "");
  WriteText(engine_.objectPath = Path("again.png"), body);
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  EXPECT_EQ(remote_.ExportCacheObject("http://example.test/again.png"), "");
}

TEST_F(RemoteEngineTest, AConfigCopyIsSavedToTheConsolesPathAndLoadedFromIt) {
  const std::size_t temporaryBefore = GatewayTemporaryFiles();
  engine_.copyText = "[Users]\r\nanna=Анна; 3; 0\r\n";
  ASSERT_TRUE(remote_.SaveConfigCopy(Path("copy.ini")));
  EXPECT_EQ(ReadText(Path("copy.ini")), engine_.copyText);
  // Saved over an earlier copy: its keys are replaced, keys the new copy
  // lacks stay.
  WriteText(Path("earlier.ini"), "[Users]\r\nanna=old\r\nboris=Борис; 0; 0\r\n[Notes]\r\nkept=1\r\n");
  ASSERT_TRUE(remote_.SaveConfigCopy(Path("earlier.ini")));
  const IniDocument merged = LoadIniFile(Path("earlier.ini"));
  ASSERT_NE(FindValue(merged, "Users", "anna"), nullptr);
  EXPECT_EQ(*FindValue(merged, "Users", "anna"), "Анна; 3; 0");
  ASSERT_NE(FindValue(merged, "Users", "boris"), nullptr);
  ASSERT_NE(FindValue(merged, "Notes", "kept"), nullptr);
  EXPECT_EQ(*FindValue(merged, "Notes", "kept"), "1");
  // The engine wrote into a file of the gateway's, removed afterwards.
  EXPECT_NE(engine_.copyPathSeen, Path("copy.ini"));
  EXPECT_EQ(engine_.copyFolderMode, 0700);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(engine_.copyPathSeen).parent_path()));

  engine_.copySaves = false;
  WriteText(Path("kept.ini"), "old");
  EXPECT_FALSE(remote_.SaveConfigCopy(Path("kept.ini")));
  EXPECT_EQ(ReadText(Path("kept.ini")), "old");

  WriteText(Path("load.ini"), "[Groups]\r\n00000003=Склад; ...\r\n");
  EXPECT_TRUE(remote_.LoadConfigCopy(Path("load.ini")).ok);
  EXPECT_EQ(engine_.loadedText, "[Groups]\r\n00000003=Склад; ...\r\n");
  EXPECT_NE(engine_.copyPathSeen, Path("load.ini"));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(engine_.copyPathSeen).parent_path()));
  EXPECT_EQ(GatewayTemporaryFiles(), temporaryBefore);

  // The gateway's refusal comes back with its box.
  engine_.loadOutcome = {false, {"Ошибка", "загружать нечего"}, 0};
  const ConfigEditOutcome refused = remote_.LoadConfigCopy(Path("load.ini"));
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.box.caption, "Ошибка");
  EXPECT_EQ(refused.box.text, "загружать нечего");

  // A file that cannot be read sends nothing, and says so.
  engine_.loadedText = "unchanged";
  const ConfigEditOutcome unread = remote_.LoadConfigCopy(Path("missing.ini"));
  EXPECT_FALSE(unread.ok);
  EXPECT_EQ(unread.box.text, Str(1360));
  EXPECT_EQ(engine_.loadedText, "unchanged");
}

TEST_F(RemoteEngineTest, PushesReachTheirSinks) {
  std::vector<std::string> lines, statuses;
  std::vector<std::uint8_t> refreshes;
  remote_.HandlePush(AdminPush::kMonitorLine, "before any sink");
  std::vector<int> switches;
  remote_.SetMonitorSink([&](const MonitorEntry& entry) {
    lines.push_back(entry.line);
    switches.push_back(entry.monitorSwitch);
  });
  remote_.SetMailStatusSink([&](const std::string& text) { statuses.push_back(text); });
  remote_.SetRefreshHandler([&](std::uint8_t bits) { refreshes.push_back(bits); });

  remote_.HandlePush(AdminPush::kMonitorLine, "12:00:01 anna HTTP http://example.test/");
  remote_.HandlePush(AdminPush::kMonitorLine,
                     MonitorPushPayload(MonitorEntry{"SMTP, Anna, anna", kMonitorSmtp, 1000, ""}));
  remote_.HandlePush(AdminPush::kMailStatus, "Отправка отчёта anna");
  remote_.HandlePush(AdminPush::kRefresh, std::string(1, char(kRefreshTree | kRefreshSpeed)));
  remote_.HandlePush(AdminPush::kRefresh, "");
  remote_.HandlePush(AdminPush::kRefresh, "ab");
  remote_.HandlePush(AdminPush::kFarewell, "Шлюз остановлен");

  EXPECT_EQ(lines, (std::vector<std::string>{"12:00:01 anna HTTP http://example.test/", "SMTP, Anna, anna"}));
  EXPECT_EQ(switches, (std::vector<int>{kMonitorAlways, kMonitorSmtp}));
  EXPECT_EQ(statuses, std::vector<std::string>{"Отправка отчёта anna"});
  EXPECT_EQ(refreshes, std::vector<std::uint8_t>{kRefreshTree | kRefreshSpeed});
}

}  // namespace
}  // namespace brindlex::testing
