// The console's interface served by the engine in this process: snapshots are
// copied out of the engine's tables under their locks, commands act on them
// under the same locks.
#pragma once

#include <mutex>
#include <optional>

#include "console/console_engine.h"
#include "core/counter_rebuild.h"

namespace brindlex {

class LocalEngine final : public ConsoleEngine {
 public:
  // Puts the settings file in force in one step (the gateway wires the same
  // reload as SIGHUP). `reopenMask` holds the listener's ReopenBits of the
  // services whose settings the administrator applied: they are reopened even
  // when their ports read the same, so that applying again retries a port that
  // could not be opened.
  using ApplySettingsFile = std::function<void(int reopenMask)>;
  explicit LocalEngine(ApplySettingsFile applySettingsFile);

  UsersSnapshot Users() override;
  void RebuildCounters(RebuildView view, std::int64_t first, std::int64_t last,
                       const std::function<void(const std::string& file, std::int64_t fileDone, std::int64_t fileSize,
                                                std::int64_t allDone, std::int64_t allSize)>& progress) override;
  void CloseUserSessions(std::uint32_t userId) override;
  void ToggleUserDisabled(std::uint32_t userId) override;

  std::optional<std::vector<ConsoleAddressSession>> SessionTree() override;
  void CloseTreeLine(TreeLineKind kind, std::uint64_t handle) override;

  StatusFigures Status() override;
  SpeedSlots SpeedHistory(SpeedSubject subject, std::uint32_t id) override;

  void SetMonitorSink(std::function<void(const MonitorEntry& entry)> sink) override;
  bool MonitorShows(int monitorSwitch) override;
  void SetMonitorShows(int monitorSwitch, bool shows) override;

  std::vector<ConsoleCacheEntry> CacheEntries() override;
  CacheFigures Cache() override;
  bool DeleteCacheEntry(const std::string& url) override;
  std::string ExportCacheObject(const std::string& url) override;
  void ResetCacheFigures() override;

  std::string UserReport(std::uint32_t userId) override;
  bool SendUserMessage(std::uint32_t userId, const std::string& text) override;
  void SetMailStatusSink(std::function<void(const std::string& text)> sink) override;

  std::vector<StatisticsRow> Statistics(const StatisticsQuery& query, const std::function<bool()>& abort) override;

  // Configuration page (local_engine_editor.cpp).
  std::vector<ConfigControlValue> ConfigValues(const std::vector<std::string>& controlNames) override;
  ConfigApplyOutcome ApplyConfigControls(const std::vector<ConfigControlValue>& controls, int changeMask) override;
  bool AdminPasswordRequired() override;
  bool AdminPasswordMatches(const std::string& entered) override;
  std::optional<GroupRecord> ConfigGroup(std::uint32_t number) override;
  GroupRecord NewConfigGroup() override;
  ConfigEditOutcome SaveConfigGroup(const GroupRecord& draft, bool isNew) override;
  ConfigEditOutcome CheckConfigGroupDeletion(std::uint32_t number) override;
  bool DeleteConfigGroup(std::uint32_t number) override;
  void ApplyGroupRulesToUsers(std::uint32_t number) override;
  std::optional<ConsoleUserDraft> ConfigUser(std::uint32_t id) override;
  std::optional<ConsoleUserDraft> NewConfigUser(std::uint32_t groupNumber) override;
  ConfigEditOutcome SaveConfigUser(const ConsoleUserDraft& draft, std::optional<std::uint32_t> id) override;
  bool DeleteConfigUser(std::uint32_t id) override;
  void MoveConfigUser(std::uint32_t id, std::uint32_t groupNumber) override;
  void ApplyGroupRulesToUser(std::uint32_t id) override;
  std::string MacAddressOf(const std::string& address) override;
  bool SaveConfigCopy(const std::string& path) override;
  ConfigEditOutcome LoadConfigCopy(const std::string& path) override;

  // Editing dialogs and list pages (local_engine_dialogs.cpp).
  ConsoleFilterLists GlobalFilterLists() override;
  void ApplyGlobalFilterLists(const ConsoleFilterLists& lists) override;
  ConsoleFilterChoice FilterChoice(StatisticsSubject subject, std::uint32_t id) override;
  bool AddDenyFilter(StatisticsSubject subject, std::uint32_t id, FilterAdditionScope scope, int kind,
                     const std::string& pattern) override;
  MailRuleList MailRelays() override;
  bool ApplyMailRelays(const MailRuleList& rules) override;
  std::vector<PortMapRule> PortMappings() override;
  std::vector<UserChoice> PortMapUsers() override;
  std::vector<Ipv4> LocalAddresses() override;
  bool ApplyPortMappings(const std::vector<PortMapRule>& rules) override;
  std::optional<ConsoleTicket> Ticket(std::uint32_t userId) override;
  SubscriptionOutcome ApplyTicket(std::uint32_t userId, TicketEntry& entry, bool editDirectly) override;
  SubscriptionOutcome CloseTicket(std::uint32_t userId) override;
  MailRefusal UserMessageRefusal(std::uint32_t userId) override;
  DialUpPhoneBook DialUpEntries() override;

 private:
  // An interval that reaches today takes today from the users' day blocks
  // (the logs plus the open sessions, counted as they go) and only the days
  // before from the logs, so that it shows what the day view shows.
  struct IntervalDays {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t today = 0;  // the date the interval was read on
  };
  void RebuildInterval(std::int64_t first, std::int64_t last,
                       const std::function<void(const RebuildProgress&)>& progress);

  ApplySettingsFile applySettingsFile_;
  // Guards liveInterval_; taken before the accounts lock, never inside it.
  std::mutex intervalLock_;
  std::optional<IntervalDays> liveInterval_;  // set while the interval reaches its reading day
};

}  // namespace brindlex
