// A ConsoleEngine for the view tests: it hands out what a test put into it
// and records the commands it is given.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "console/console_engine.h"

namespace brindlex::testing {

class FakeConsoleEngine : public ConsoleEngine {
 public:
  struct Rebuild {
    RebuildView view;
    std::int64_t first;
    std::int64_t last;
  };
  struct TreeClose {
    TreeLineKind kind;
    std::uint64_t handle;
  };

  UsersSnapshot users;
  std::optional<std::vector<ConsoleAddressSession>> tree;
  std::vector<ConsoleCacheEntry> cacheEntries;
  CacheFigures cacheFigures;
  StatusFigures status;
  SpeedSlots speed;
  std::vector<std::pair<std::uint32_t, std::string>> messages;

  std::vector<Rebuild> rebuilds;
  std::vector<std::uint32_t> closedUsers;
  std::vector<std::uint32_t> toggledUsers;
  std::vector<TreeClose> treeCloses;
  std::vector<std::string> deletedUrls;
  int treeRequests = 0;

  UsersSnapshot Users() override { return users; }
  void RebuildCounters(
      RebuildView view, std::int64_t first, std::int64_t last,
      const std::function<void(const std::string&, std::int64_t, std::int64_t, std::int64_t, std::int64_t)>&) override {
    rebuilds.push_back({view, first, last});
  }
  void CloseUserSessions(std::uint32_t userId) override { closedUsers.push_back(userId); }
  void ToggleUserDisabled(std::uint32_t userId) override { toggledUsers.push_back(userId); }
  std::optional<std::vector<ConsoleAddressSession>> SessionTree() override {
    ++treeRequests;
    return tree;
  }
  void CloseTreeLine(TreeLineKind kind, std::uint64_t handle) override { treeCloses.push_back({kind, handle}); }
  StatusFigures Status() override { return status; }
  SpeedSlots SpeedHistory(SpeedSubject, std::uint32_t) override { return speed; }
  void SetMonitorSink(std::function<void(const MonitorEntry&)>) override {}
  bool MonitorShows(int) override { return true; }
  void SetMonitorShows(int, bool) override {}
  std::vector<ConsoleCacheEntry> CacheEntries() override { return cacheEntries; }
  CacheFigures Cache() override { return cacheFigures; }
  bool DeleteCacheEntry(const std::string& url) override {
    deletedUrls.push_back(url);
    return true;
  }
  std::string ExportCacheObject(const std::string&) override { return {}; }
  void ResetCacheFigures() override {}
  std::string UserReport(std::uint32_t userId) override { return "report of " + std::to_string(userId); }
  bool SendUserMessage(std::uint32_t userId, const std::string& text) override {
    messages.emplace_back(userId, text);
    return true;
  }
  void SetMailStatusSink(std::function<void(const std::string&)>) override {}
  // The configuration page is not what these tests look at: it is served by
  // the real engine in the editor's tests.
  std::vector<ConfigControlValue> ConfigValues(const std::vector<std::string>&) override { return {}; }
  ConfigApplyOutcome ApplyConfigControls(const std::vector<ConfigControlValue>&, int) override { return {}; }
  bool AdminPasswordRequired() override { return false; }
  bool AdminPasswordMatches(const std::string&) override { return false; }
  std::optional<GroupRecord> ConfigGroup(std::uint32_t) override { return std::nullopt; }
  GroupRecord NewConfigGroup() override { return {}; }
  ConfigEditOutcome SaveConfigGroup(const GroupRecord&, bool) override { return {}; }
  ConfigEditOutcome CheckConfigGroupDeletion(std::uint32_t) override { return {}; }
  bool DeleteConfigGroup(std::uint32_t) override { return false; }
  void ApplyGroupRulesToUsers(std::uint32_t) override {}
  std::optional<ConsoleUserDraft> ConfigUser(std::uint32_t) override { return std::nullopt; }
  std::optional<ConsoleUserDraft> NewConfigUser(std::uint32_t) override { return std::nullopt; }
  ConfigEditOutcome SaveConfigUser(const ConsoleUserDraft&, std::optional<std::uint32_t>) override { return {}; }
  bool DeleteConfigUser(std::uint32_t) override { return false; }
  void MoveConfigUser(std::uint32_t, std::uint32_t) override {}
  void ApplyGroupRulesToUser(std::uint32_t) override {}
  std::string MacAddressOf(const std::string&) override { return {}; }
  bool SaveConfigCopy(const std::string&) override { return false; }
  ConfigEditOutcome LoadConfigCopy(const std::string&) override { return {}; }

  std::vector<StatisticsRow> Statistics(const StatisticsQuery&, const std::function<bool()>&) override { return {}; }

  // Editing dialogs and list pages: the lists served, and every store and
  // addition recorded as it came.
  struct FilterAdded {
    StatisticsSubject subject;
    std::uint32_t id;
    FilterAdditionScope scope;
    int kind;
    std::string pattern;
  };
  struct TicketApplied {
    std::uint32_t userId;
    TicketEntry entry;
    bool editDirectly;
  };
  ConsoleFilterLists filterLists;
  std::vector<ConsoleFilterLists> appliedFilterLists;
  ConsoleFilterChoice filterChoice;
  std::vector<std::pair<StatisticsSubject, std::uint32_t>> filterChoiceAsked;
  std::vector<FilterAdded> addedFilters;
  bool addFilterAccepts = true;
  MailRuleList relays;
  std::vector<MailRuleList> appliedRelays;
  std::vector<PortMapRule> portMappings;
  std::vector<UserChoice> portMapUsers;
  std::vector<Ipv4> localAddresses;
  std::vector<std::vector<PortMapRule>> appliedPortMappings;
  std::map<std::uint32_t, ConsoleTicket> tickets;
  std::vector<TicketApplied> ticketApplies;
  std::vector<std::uint32_t> ticketCloses;

  ConsoleFilterLists GlobalFilterLists() override { return filterLists; }
  void ApplyGlobalFilterLists(const ConsoleFilterLists& lists) override {
    appliedFilterLists.push_back(lists);
    filterLists = lists;
  }
  ConsoleFilterChoice FilterChoice(StatisticsSubject subject, std::uint32_t id) override {
    filterChoiceAsked.emplace_back(subject, id);
    return filterChoice;
  }
  bool AddDenyFilter(StatisticsSubject subject, std::uint32_t id, FilterAdditionScope scope, int kind,
                     const std::string& pattern) override {
    addedFilters.push_back({subject, id, scope, kind, pattern});
    return addFilterAccepts;
  }
  MailRuleList MailRelays() override { return relays; }
  bool ApplyMailRelays(const MailRuleList& rules) override {
    appliedRelays.push_back(rules);
    relays = rules;
    return true;
  }
  std::vector<PortMapRule> PortMappings() override { return portMappings; }
  std::vector<UserChoice> PortMapUsers() override { return portMapUsers; }
  std::vector<Ipv4> LocalAddresses() override { return localAddresses; }
  bool ApplyPortMappings(const std::vector<PortMapRule>& rules) override {
    appliedPortMappings.push_back(rules);
    portMappings = rules;
    return true;
  }
  std::optional<ConsoleTicket> Ticket(std::uint32_t userId) override {
    const auto found = tickets.find(userId);
    return found == tickets.end() ? std::nullopt : std::optional<ConsoleTicket>(found->second);
  }
  // Records the entry; the subscription itself is the real engine's, tested
  // with it.
  SubscriptionOutcome ApplyTicket(std::uint32_t userId, TicketEntry& entry, bool editDirectly) override {
    ticketApplies.push_back({userId, entry, editDirectly});
    return {{}, kAddTicketEvent, {}};
  }
  SubscriptionOutcome CloseTicket(std::uint32_t userId) override {
    ticketCloses.push_back(userId);
    return {{}, kCloseTicketEvent, {}};
  }
  MailRefusal UserMessageRefusal(std::uint32_t) override { return mailRefusal; }
  DialUpPhoneBook DialUpEntries() override { return phoneBook; }
  MailRefusal mailRefusal = MailRefusal::kNone;
  DialUpPhoneBook phoneBook;
};

}  // namespace brindlex::testing
