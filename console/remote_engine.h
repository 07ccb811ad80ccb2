// The console's engine in another process: every method is a call over the
// administration channel (console/admin_calls.h), its arguments and result
// encoded by console/admin_records.h.
//
// When the link is down, or a reply does not decode, a method gives what
// shows nothing and changes nothing: an empty snapshot or list, nothing,
// false, zero figures; an outcome that the editor shows as a box (ok = false)
// says that the gateway cannot be reached. SessionTree gives nothing so that
// the view keeps what it showed.
//
// Files cross as bytes: the cache object's copy is put into a private folder
// of the console's user (mode 0700, under $XDG_RUNTIME_DIR or the temporary
// folder); copies of the accounts are read from and written to the path the
// administrator picked on this host, a saved copy's keys replacing those the
// file already has, as on the gateway's host.
//
// The gateway's pushes reach the console through HandlePush, which the
// console's timer feeds from AdminLink::DeliverPushes.
//
// Threads: the console's (main) thread only, like every ConsoleEngine; the
// sinks and the refresh handler are called on that thread from HandlePush.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "console/admin_calls.h"
#include "console/admin_link.h"
#include "console/console_engine.h"

namespace brindlex {

class RemoteEngine final : public ConsoleEngine {
 public:
  // `privateFolderBase`: where the private folder for cache objects is made;
  // empty: $XDG_RUNTIME_DIR when set, else the system's temporary folder.
  explicit RemoteEngine(AdminLink& link, std::string privateFolderBase = {});

  // A push of the gateway: a monitor line to the monitor sink, a mail status
  // to the mail sink, refresh bits to the refresh handler. Others are left to
  // the caller.
  void HandlePush(AdminPush kind, std::string_view payload);
  // What the gateway's main timer asked of the views (RefreshBits).
  void SetRefreshHandler(std::function<void(std::uint8_t bits)> handler);

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
  // The reply to a call whose arguments are `args`, decoded as one Result;
  // nothing when the link is down or the reply does not decode.
  template <class Result>
  std::optional<Result> Ask(AdminCall call, const std::string& args, const AdminCallHooks& hooks = {});
  // A call without a result.
  void Tell(AdminCall call, const std::string& args);
  // The folder for cache objects, made 0700 when missing; empty when it
  // cannot be made or is not the user's own.
  std::string PrivateFolder() const;

  AdminLink& link_;
  std::string privateFolderBase_;
  std::function<void(const MonitorEntry&)> monitorSink_;
  std::function<void(const std::string&)> mailSink_;
  std::function<void(std::uint8_t)> refreshHandler_;
};

}  // namespace brindlex
