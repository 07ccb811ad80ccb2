#include "console/remote_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "cache/cache_index.h"
#include "console/admin_records.h"
#include "console/monitor_view.h"
#include "core/file_io.h"
#include "core/ini_file.h"
#include "core/strings.h"

namespace brindlex {

namespace {

constexpr int kWarningCaption = 18;
constexpr int kGatewayUnreachable = 1224;

ConfigBox UnreachableBox() { return {Str(kWarningCaption), Str(kGatewayUnreachable)}; }

ConfigEditOutcome UnreachableEdit() { return {false, UnreachableBox(), 0}; }

SubscriptionOutcome UnreachableSubscription() {
  return {EditOutcome{false, Str(kWarningCaption), Str(kGatewayUnreachable)}, {}, {}};
}

}  // namespace

RemoteEngine::RemoteEngine(AdminLink& link, std::string privateFolderBase)
    : link_(link), privateFolderBase_(std::move(privateFolderBase)) {}

template <class Result>
std::optional<Result> RemoteEngine::Ask(AdminCall call, const std::string& args, const AdminCallHooks& hooks) {
  std::optional<std::string> reply = link_.Call(static_cast<std::uint16_t>(call), args, hooks);
  if (!reply) return std::nullopt;
  Result result{};
  if (!Decode(*reply, result)) return std::nullopt;
  return result;
}

void RemoteEngine::Tell(AdminCall call, const std::string& args) {
  // A command that could not be delivered shows in the next snapshot, which
  // still has the record as it was.
  link_.Call(static_cast<std::uint16_t>(call), args);
}

void RemoteEngine::HandlePush(AdminPush kind, std::string_view payload) {
  switch (kind) {
    case AdminPush::kMonitorLine:
      if (monitorSink_) monitorSink_(MonitorEntryOfPush(payload));
      break;
    case AdminPush::kMailStatus:
      if (mailSink_) mailSink_(std::string(payload));
      break;
    case AdminPush::kRefresh:
      if (refreshHandler_ && payload.size() == 1) refreshHandler_(static_cast<std::uint8_t>(payload[0]));
      break;
    case AdminPush::kFarewell:
      break;
  }
}

void RemoteEngine::SetRefreshHandler(std::function<void(std::uint8_t bits)> handler) {
  refreshHandler_ = std::move(handler);
}

// --- Users page ---------------------------------------------------------------

UsersSnapshot RemoteEngine::Users() {
  return Ask<UsersSnapshot>(AdminCall::kUsers, Encode()).value_or(UsersSnapshot{});
}

void RemoteEngine::RebuildCounters(
    RebuildView view, std::int64_t first, std::int64_t last,
    const std::function<void(const std::string& file, std::int64_t fileDone, std::int64_t fileSize,
                             std::int64_t allDone, std::int64_t allSize)>& progress) {
  AdminCallHooks hooks;
  hooks.progress = [&](std::string_view payload) {
    RebuildProgress step;
    if (progress && Decode(payload, step))
      progress(step.file, step.fileDone, step.fileSize, step.allDone, step.allSize);
  };
  link_.Call(static_cast<std::uint16_t>(AdminCall::kRebuildCounters), Encode(view, first, last), hooks);
}

void RemoteEngine::CloseUserSessions(std::uint32_t userId) { Tell(AdminCall::kCloseUserSessions, Encode(userId)); }

void RemoteEngine::ToggleUserDisabled(std::uint32_t userId) { Tell(AdminCall::kToggleUserDisabled, Encode(userId)); }

// --- Connections page, status bar, monitor -------------------------------------

std::optional<std::vector<ConsoleAddressSession>> RemoteEngine::SessionTree() {
  // Nothing both when the link is down and when the gateway's lock was busy:
  // either way the view keeps what it showed.
  return Ask<std::optional<std::vector<ConsoleAddressSession>>>(AdminCall::kSessionTree, Encode())
      .value_or(std::nullopt);
}

void RemoteEngine::CloseTreeLine(TreeLineKind kind, std::uint64_t handle) {
  Tell(AdminCall::kCloseTreeLine, Encode(kind, handle));
}

StatusFigures RemoteEngine::Status() {
  return Ask<StatusFigures>(AdminCall::kStatus, Encode()).value_or(StatusFigures{});
}

SpeedSlots RemoteEngine::SpeedHistory(SpeedSubject subject, std::uint32_t id) {
  return Ask<SpeedSlots>(AdminCall::kSpeedHistory, Encode(subject, id)).value_or(SpeedSlots{});
}

void RemoteEngine::SetMonitorSink(std::function<void(const MonitorEntry& entry)> sink) {
  monitorSink_ = std::move(sink);
}

bool RemoteEngine::MonitorShows(int monitorSwitch) {
  return Ask<bool>(AdminCall::kMonitorShows, Encode(std::int32_t{monitorSwitch})).value_or(false);
}

void RemoteEngine::SetMonitorShows(int monitorSwitch, bool shows) {
  Tell(AdminCall::kSetMonitorShows, Encode(std::int32_t{monitorSwitch}, shows));
}

// --- Cache page -----------------------------------------------------------------

std::vector<ConsoleCacheEntry> RemoteEngine::CacheEntries() {
  return Ask<std::vector<ConsoleCacheEntry>>(AdminCall::kCacheEntries, Encode())
      .value_or(std::vector<ConsoleCacheEntry>{});
}

CacheFigures RemoteEngine::Cache() { return Ask<CacheFigures>(AdminCall::kCache, Encode()).value_or(CacheFigures{}); }

bool RemoteEngine::DeleteCacheEntry(const std::string& url) {
  return Ask<bool>(AdminCall::kDeleteCacheEntry, Encode(url)).value_or(false);
}

std::string RemoteEngine::PrivateFolder() const {
  std::string base = privateFolderBase_;
  if (base.empty()) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
      base = runtime;
    } else {
      std::error_code error;
      base = std::filesystem::temp_directory_path(error).string();
      if (error || base.empty()) return {};
    }
  }
  const uid_t uid = ::getuid();
  std::string folder = base + "/brindlex-console-" + std::to_string(uid);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  // A folder another user made in a shared /tmp (or a link planted there)
  // must not receive the administrator's objects.
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != uid ||
      (info.st_mode & 077) != 0) {
    return {};
  }
  return folder;
}

std::string RemoteEngine::ExportCacheObject(const std::string& url) {
  std::optional<std::string> extension = ViewerExtension(url);
  if (!extension) return {};
  std::optional<std::string> bytes = Ask<std::string>(AdminCall::kExportCacheObject, Encode(url));
  if (!bytes || bytes->empty()) return {};
  std::string folder = PrivateFolder();
  if (folder.empty()) return {};
  // One copy at a time, as the gateway keeps its own: the previous object's
  // copy goes, whatever its extension was.
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().filename().string().starts_with("~view")) std::filesystem::remove(entry.path(), error);
  }
  std::string path = folder + "/~view" + *extension;
  if (!WriteFileAtomically(path, *bytes)) return {};
  return path;
}

void RemoteEngine::ResetCacheFigures() { Tell(AdminCall::kResetCacheFigures, Encode()); }

// --- Messages and statistics ------------------------------------------------------

std::string RemoteEngine::UserReport(std::uint32_t userId) {
  return Ask<std::string>(AdminCall::kUserReport, Encode(userId)).value_or(std::string());
}

bool RemoteEngine::SendUserMessage(std::uint32_t userId, const std::string& text) {
  return Ask<bool>(AdminCall::kSendUserMessage, Encode(userId, text)).value_or(false);
}

void RemoteEngine::SetMailStatusSink(std::function<void(const std::string& text)> sink) { mailSink_ = std::move(sink); }

std::vector<StatisticsRow> RemoteEngine::Statistics(const StatisticsQuery& query, const std::function<bool()>& abort) {
  AdminCallHooks hooks;
  hooks.abort = abort;
  // The rows of a load the abort stopped come back incomplete; the caller,
  // which knows it aborted, drops them as it would locally.
  return Ask<std::vector<StatisticsRow>>(AdminCall::kStatistics, Encode(query), hooks)
      .value_or(std::vector<StatisticsRow>{});
}

// --- Configuration page -------------------------------------------------------------

std::vector<ConfigControlValue> RemoteEngine::ConfigValues(const std::vector<std::string>& controlNames) {
  return Ask<std::vector<ConfigControlValue>>(AdminCall::kConfigValues, Encode(controlNames))
      .value_or(std::vector<ConfigControlValue>{});
}

ConfigApplyOutcome RemoteEngine::ApplyConfigControls(const std::vector<ConfigControlValue>& controls, int changeMask) {
  std::optional<ConfigApplyOutcome> outcome =
      Ask<ConfigApplyOutcome>(AdminCall::kApplyConfigControls, Encode(controls, std::int32_t{changeMask}));
  if (outcome) return std::move(*outcome);
  ConfigApplyOutcome refused;
  refused.ok = false;
  refused.box = UnreachableBox();
  return refused;
}

bool RemoteEngine::AdminPasswordRequired() {
  // Without the link the page stays locked: no password can match then.
  return Ask<bool>(AdminCall::kAdminPasswordRequired, Encode()).value_or(true);
}

bool RemoteEngine::AdminPasswordMatches(const std::string& entered) {
  return Ask<bool>(AdminCall::kAdminPasswordMatches, Encode(entered)).value_or(false);
}

std::optional<GroupRecord> RemoteEngine::ConfigGroup(std::uint32_t number) {
  return Ask<std::optional<GroupRecord>>(AdminCall::kConfigGroup, Encode(number)).value_or(std::nullopt);
}

GroupRecord RemoteEngine::NewConfigGroup() {
  return Ask<GroupRecord>(AdminCall::kNewConfigGroup, Encode()).value_or(GroupRecord{});
}

ConfigEditOutcome RemoteEngine::SaveConfigGroup(const GroupRecord& draft, bool isNew) {
  return Ask<ConfigEditOutcome>(AdminCall::kSaveConfigGroup, Encode(draft, isNew)).value_or(UnreachableEdit());
}

ConfigEditOutcome RemoteEngine::CheckConfigGroupDeletion(std::uint32_t number) {
  return Ask<ConfigEditOutcome>(AdminCall::kCheckConfigGroupDeletion, Encode(number)).value_or(UnreachableEdit());
}

bool RemoteEngine::DeleteConfigGroup(std::uint32_t number) {
  return Ask<bool>(AdminCall::kDeleteConfigGroup, Encode(number)).value_or(false);
}

void RemoteEngine::ApplyGroupRulesToUsers(std::uint32_t number) {
  Tell(AdminCall::kApplyGroupRulesToUsers, Encode(number));
}

std::optional<ConsoleUserDraft> RemoteEngine::ConfigUser(std::uint32_t id) {
  return Ask<std::optional<ConsoleUserDraft>>(AdminCall::kConfigUser, Encode(id)).value_or(std::nullopt);
}

std::optional<ConsoleUserDraft> RemoteEngine::NewConfigUser(std::uint32_t groupNumber) {
  return Ask<std::optional<ConsoleUserDraft>>(AdminCall::kNewConfigUser, Encode(groupNumber)).value_or(std::nullopt);
}

ConfigEditOutcome RemoteEngine::SaveConfigUser(const ConsoleUserDraft& draft, std::optional<std::uint32_t> id) {
  return Ask<ConfigEditOutcome>(AdminCall::kSaveConfigUser, Encode(draft, id)).value_or(UnreachableEdit());
}

bool RemoteEngine::DeleteConfigUser(std::uint32_t id) {
  return Ask<bool>(AdminCall::kDeleteConfigUser, Encode(id)).value_or(false);
}

void RemoteEngine::MoveConfigUser(std::uint32_t id, std::uint32_t groupNumber) {
  Tell(AdminCall::kMoveConfigUser, Encode(id, groupNumber));
}

void RemoteEngine::ApplyGroupRulesToUser(std::uint32_t id) { Tell(AdminCall::kApplyGroupRulesToUser, Encode(id)); }

std::string RemoteEngine::MacAddressOf(const std::string& address) {
  return Ask<std::string>(AdminCall::kMacAddressOf, Encode(address)).value_or(std::string());
}

bool RemoteEngine::SaveConfigCopy(const std::string& path) {
  std::optional<std::string> reply = link_.Call(static_cast<std::uint16_t>(AdminCall::kSaveConfigCopy), Encode());
  bool ok = false;
  std::string bytes;
  if (!reply || !Decode(*reply, ok, bytes) || !ok) return false;
  // As a copy saved on the gateway's host would: the keys of the copy replace
  // those the chosen file already has, and its other keys stay.
  IniDocument file = LoadIniFile(path);
  IniDocument copy = ParseIni(bytes);
  for (const IniSection& section : copy.sections) {
    for (const IniLine& line : section.lines) {
      if (line.isKey && !SetValue(file, section.name, line.key, line.value)) return false;
    }
  }
  return SaveIniFile(path, file);
}

ConfigEditOutcome RemoteEngine::LoadConfigCopy(const std::string& path) {
  std::string bytes;
  // A file larger than the gateway takes is not sent at all, rather than a
  // cut copy that would load part of the accounts.
  if (!ReadFileBounded(path, kAdminConfigCopyMax + 1, bytes) || bytes.size() > kAdminConfigCopyMax)
    return {false, {Str(1158), Str(1360)}, 0};
  return Ask<ConfigEditOutcome>(AdminCall::kApplyConfigCopy, Encode(bytes)).value_or(UnreachableEdit());
}

// --- Editing dialogs and list pages -------------------------------------------------

ConsoleFilterLists RemoteEngine::GlobalFilterLists() {
  return Ask<ConsoleFilterLists>(AdminCall::kGlobalFilterLists, Encode()).value_or(ConsoleFilterLists{});
}

void RemoteEngine::ApplyGlobalFilterLists(const ConsoleFilterLists& lists) {
  Tell(AdminCall::kApplyGlobalFilterLists, Encode(lists));
}

ConsoleFilterChoice RemoteEngine::FilterChoice(StatisticsSubject subject, std::uint32_t id) {
  return Ask<ConsoleFilterChoice>(AdminCall::kFilterChoice, Encode(subject, id)).value_or(ConsoleFilterChoice{});
}

bool RemoteEngine::AddDenyFilter(StatisticsSubject subject, std::uint32_t id, FilterAdditionScope scope, int kind,
                                 const std::string& pattern) {
  return Ask<bool>(AdminCall::kAddDenyFilter, Encode(subject, id, scope, std::int32_t{kind}, pattern)).value_or(false);
}

MailRuleList RemoteEngine::MailRelays() {
  return Ask<MailRuleList>(AdminCall::kMailRelays, Encode()).value_or(MailRuleList{});
}

bool RemoteEngine::ApplyMailRelays(const MailRuleList& rules) {
  return Ask<bool>(AdminCall::kApplyMailRelays, Encode(rules)).value_or(false);
}

std::vector<PortMapRule> RemoteEngine::PortMappings() {
  return Ask<std::vector<PortMapRule>>(AdminCall::kPortMappings, Encode()).value_or(std::vector<PortMapRule>{});
}

std::vector<UserChoice> RemoteEngine::PortMapUsers() {
  return Ask<std::vector<UserChoice>>(AdminCall::kPortMapUsers, Encode()).value_or(std::vector<UserChoice>{});
}

std::vector<Ipv4> RemoteEngine::LocalAddresses() {
  return Ask<std::vector<Ipv4>>(AdminCall::kLocalAddresses, Encode()).value_or(std::vector<Ipv4>{});
}

bool RemoteEngine::ApplyPortMappings(const std::vector<PortMapRule>& rules) {
  return Ask<bool>(AdminCall::kApplyPortMappings, Encode(rules)).value_or(false);
}

std::optional<ConsoleTicket> RemoteEngine::Ticket(std::uint32_t userId) {
  return Ask<std::optional<ConsoleTicket>>(AdminCall::kTicket, Encode(userId)).value_or(std::nullopt);
}

SubscriptionOutcome RemoteEngine::ApplyTicket(std::uint32_t userId, TicketEntry& entry, bool editDirectly) {
  std::optional<std::string> reply =
      link_.Call(static_cast<std::uint16_t>(AdminCall::kApplyTicket), Encode(userId, entry, editDirectly));
  SubscriptionOutcome outcome;
  TicketEntry settled;
  if (!reply || !Decode(*reply, outcome, settled)) return UnreachableSubscription();
  // The gateway sets empty fields to "0": the window shows what was applied.
  entry = std::move(settled);
  return outcome;
}

SubscriptionOutcome RemoteEngine::CloseTicket(std::uint32_t userId) {
  return Ask<SubscriptionOutcome>(AdminCall::kCloseTicket, Encode(userId)).value_or(UnreachableSubscription());
}

// --- Failures the console explains -------------------------------------------------

MailRefusal RemoteEngine::UserMessageRefusal(std::uint32_t userId) {
  return Ask<MailRefusal>(AdminCall::kUserMessageRefusal, Encode(userId)).value_or(MailRefusal::kNoAnswer);
}

DialUpPhoneBook RemoteEngine::DialUpEntries() {
  return Ask<DialUpPhoneBook>(AdminCall::kDialUpEntries, Encode()).value_or(DialUpPhoneBook{});
}

}  // namespace brindlex
