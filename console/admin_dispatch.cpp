#include "console/admin_dispatch.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>
#include <type_traits>
#include <utility>

#include "console/admin_calls.h"
#include "console/admin_records.h"
#include "core/file_io.h"
#include "core/strings.h"

namespace brindlex {

namespace {

void RunOnMain(const AdminCallContext& context, const std::function<void()>& work) {
  if (context.runOnMainThread) {
    context.runOnMainThread(work);
  } else {
    work();
  }
}

// Decodes the arguments as Args..., runs `method` with them on the main
// thread and encodes what it returns (an empty reply for a method without a
// result).
template <class... Args, class Method>
std::optional<std::string> Serve(const AdminCallContext& context, std::string_view payload, Method&& method) {
  std::tuple<Args...> args;
  if (!std::apply([&](Args&... values) { return Decode(payload, values...); }, args)) return std::nullopt;
  std::string reply;
  RunOnMain(context, [&] {
    if constexpr (std::is_void_v<std::invoke_result_t<Method, Args&...>>) {
      std::apply(method, args);
    } else {
      reply = Encode(std::apply(method, args));
    }
  });
  return reply;
}

// A file for the engine to write into or read from, alone in a folder of
// its own (mode 0700: a copy of the accounts holds their passwords); both go
// when this goes.
class TemporaryFile {
 public:
  TemporaryFile() {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return;
    std::string folder = (base / "brindlex-admin-XXXXXX").string();
    if (!::mkdtemp(folder.data())) return;
    folder_ = std::move(folder);
    path_ = folder_ + "/copy.ini";
  }
  ~TemporaryFile() {
    if (folder_.empty()) return;
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Empty when no folder could be made.
  const std::string& Path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

// The whole file when it holds at most maxBytes; nothing when it is larger or
// cannot be read.
std::optional<std::string> ReadWhole(const std::string& path, std::size_t maxBytes) {
  std::string bytes;
  if (!ReadFileBounded(path, maxBytes + 1, bytes) || bytes.size() > maxBytes) return std::nullopt;
  return bytes;
}

std::optional<std::string> ServeExportCacheObject(ConsoleEngine& engine, std::string_view payload,
                                                  const AdminCallContext& context) {
  std::string url;
  if (!Decode(payload, url)) return std::nullopt;
  std::string bytes;
  // The copy is read on the main thread too: another console's export would
  // replace it there.
  RunOnMain(context, [&] {
    std::string path = engine.ExportCacheObject(url);
    if (path.empty()) return;
    bytes = ReadWhole(path, kAdminCacheObjectMax).value_or(std::string());
    ::unlink(path.c_str());
  });
  return Encode(bytes);
}

std::optional<std::string> ServeSaveConfigCopy(ConsoleEngine& engine, std::string_view payload,
                                               const AdminCallContext& context) {
  if (!payload.empty()) return std::nullopt;
  TemporaryFile file;
  bool ok = false;
  std::string bytes;
  if (!file.Path().empty()) {
    RunOnMain(context, [&] { ok = engine.SaveConfigCopy(file.Path()); });
    std::optional<std::string> read = ok ? ReadWhole(file.Path(), kAdminConfigCopyMax) : std::nullopt;
    ok = read.has_value();
    if (read) bytes = std::move(*read);
  }
  return Encode(ok, bytes);
}

std::optional<std::string> ServeLoadConfigCopy(ConsoleEngine& engine, std::string_view payload,
                                               const AdminCallContext& context) {
  WireReader reader(payload);
  std::string bytes;
  if (!reader.GetString(bytes, kAdminConfigCopyMax) || !reader.Done()) return std::nullopt;
  TemporaryFile file;
  // A copy that cannot be put down here is a copy the engine could not have
  // read: refused, and nothing changes.
  ConfigEditOutcome outcome{false, {Str(1158), Str(1360)}, 0};
  if (!file.Path().empty() && WriteFileAtomically(file.Path(), bytes)) {
    RunOnMain(context, [&] { outcome = engine.LoadConfigCopy(file.Path()); });
  }
  return Encode(outcome);
}

std::optional<std::string> ServeRebuildCounters(ConsoleEngine& engine, std::string_view payload,
                                                const AdminCallContext& context) {
  RebuildView view = RebuildView::kMonth;
  std::int64_t first = 0;
  std::int64_t last = 0;
  if (!Decode(payload, view, first, last)) return std::nullopt;
  auto progress = [&](const std::string& file, std::int64_t fileDone, std::int64_t fileSize, std::int64_t allDone,
                      std::int64_t allSize) {
    if (context.progress) context.progress(Encode(RebuildProgress{file, fileDone, fileSize, allDone, allSize}));
  };
  RunOnMain(context, [&] { engine.RebuildCounters(view, first, last, progress); });
  return Encode();
}

std::optional<std::string> ServeStatistics(ConsoleEngine& engine, std::string_view payload,
                                           const AdminCallContext& context) {
  StatisticsQuery query;
  if (!Decode(payload, query)) return std::nullopt;
  auto aborted = [&] { return context.aborted && context.aborted(); };
  return Encode(engine.Statistics(query, aborted));
}

std::optional<std::string> ServeApplyTicket(ConsoleEngine& engine, std::string_view payload,
                                            const AdminCallContext& context) {
  std::uint32_t userId = 0;
  TicketEntry entry;
  bool editDirectly = false;
  if (!Decode(payload, userId, entry, editDirectly)) return std::nullopt;
  SubscriptionOutcome outcome;
  RunOnMain(context, [&] { outcome = engine.ApplyTicket(userId, entry, editDirectly); });
  return Encode(outcome, entry);
}

}  // namespace

std::optional<std::string> ServeAdminCall(ConsoleEngine& engine, std::uint16_t call, std::string_view args,
                                          const AdminCallContext& context) {
  using U32 = std::uint32_t;
  using Str = std::string;
  ConsoleEngine& e = engine;
  const AdminCallContext& c = context;
  switch (static_cast<AdminCall>(call)) {
    case AdminCall::kUsers:
      return Serve<>(c, args, [&] { return e.Users(); });
    case AdminCall::kRebuildCounters:
      return ServeRebuildCounters(e, args, c);
    case AdminCall::kCloseUserSessions:
      return Serve<U32>(c, args, [&](U32 id) { e.CloseUserSessions(id); });
    case AdminCall::kToggleUserDisabled:
      return Serve<U32>(c, args, [&](U32 id) { e.ToggleUserDisabled(id); });
    case AdminCall::kSessionTree:
      return Serve<>(c, args, [&] { return e.SessionTree(); });
    case AdminCall::kCloseTreeLine:
      return Serve<TreeLineKind, std::uint64_t>(c, args,
                                                [&](TreeLineKind kind, std::uint64_t h) { e.CloseTreeLine(kind, h); });
    case AdminCall::kStatus:
      return Serve<>(c, args, [&] { return e.Status(); });
    case AdminCall::kSpeedHistory:
      return Serve<SpeedSubject, U32>(c, args, [&](SpeedSubject s, U32 id) { return e.SpeedHistory(s, id); });
    case AdminCall::kMonitorShows:
      return Serve<std::int32_t>(c, args, [&](std::int32_t sw) { return e.MonitorShows(sw); });
    case AdminCall::kSetMonitorShows:
      return Serve<std::int32_t, bool>(c, args, [&](std::int32_t sw, bool shows) { e.SetMonitorShows(sw, shows); });
    case AdminCall::kCacheEntries:
      return Serve<>(c, args, [&] { return e.CacheEntries(); });
    case AdminCall::kCache:
      return Serve<>(c, args, [&] { return e.Cache(); });
    case AdminCall::kDeleteCacheEntry:
      return Serve<Str>(c, args, [&](const Str& url) { return e.DeleteCacheEntry(url); });
    case AdminCall::kExportCacheObject:
      return ServeExportCacheObject(e, args, c);
    case AdminCall::kResetCacheFigures:
      return Serve<>(c, args, [&] { e.ResetCacheFigures(); });
    case AdminCall::kUserReport:
      return Serve<U32>(c, args, [&](U32 id) { return e.UserReport(id); });
    case AdminCall::kSendUserMessage:
      return Serve<U32, Str>(c, args, [&](U32 id, const Str& text) { return e.SendUserMessage(id, text); });
    case AdminCall::kStatistics:
      return ServeStatistics(e, args, c);
    case AdminCall::kConfigValues:
      return Serve<std::vector<Str>>(c, args, [&](const std::vector<Str>& names) { return e.ConfigValues(names); });
    case AdminCall::kApplyConfigControls:
      return Serve<std::vector<ConfigControlValue>, std::int32_t>(
          c, args, [&](const std::vector<ConfigControlValue>& controls, std::int32_t mask) {
            return e.ApplyConfigControls(controls, mask);
          });
    case AdminCall::kAdminPasswordRequired:
      return Serve<>(c, args, [&] { return e.AdminPasswordRequired(); });
    case AdminCall::kAdminPasswordMatches:
      return Serve<Str>(c, args, [&](const Str& entered) { return e.AdminPasswordMatches(entered); });
    case AdminCall::kConfigGroup:
      return Serve<U32>(c, args, [&](U32 number) { return e.ConfigGroup(number); });
    case AdminCall::kNewConfigGroup:
      return Serve<>(c, args, [&] { return e.NewConfigGroup(); });
    case AdminCall::kSaveConfigGroup:
      return Serve<GroupRecord, bool>(
          c, args, [&](const GroupRecord& draft, bool isNew) { return e.SaveConfigGroup(draft, isNew); });
    case AdminCall::kCheckConfigGroupDeletion:
      return Serve<U32>(c, args, [&](U32 number) { return e.CheckConfigGroupDeletion(number); });
    case AdminCall::kDeleteConfigGroup:
      return Serve<U32>(c, args, [&](U32 number) { return e.DeleteConfigGroup(number); });
    case AdminCall::kApplyGroupRulesToUsers:
      return Serve<U32>(c, args, [&](U32 number) { e.ApplyGroupRulesToUsers(number); });
    case AdminCall::kConfigUser:
      return Serve<U32>(c, args, [&](U32 id) { return e.ConfigUser(id); });
    case AdminCall::kNewConfigUser:
      return Serve<U32>(c, args, [&](U32 group) { return e.NewConfigUser(group); });
    case AdminCall::kSaveConfigUser:
      return Serve<ConsoleUserDraft, std::optional<U32>>(
          c, args, [&](const ConsoleUserDraft& draft, std::optional<U32> id) { return e.SaveConfigUser(draft, id); });
    case AdminCall::kDeleteConfigUser:
      return Serve<U32>(c, args, [&](U32 id) { return e.DeleteConfigUser(id); });
    case AdminCall::kMoveConfigUser:
      return Serve<U32, U32>(c, args, [&](U32 id, U32 group) { e.MoveConfigUser(id, group); });
    case AdminCall::kApplyGroupRulesToUser:
      return Serve<U32>(c, args, [&](U32 id) { e.ApplyGroupRulesToUser(id); });
    case AdminCall::kMacAddressOf:
      return Serve<Str>(c, args, [&](const Str& address) { return e.MacAddressOf(address); });
    case AdminCall::kSaveConfigCopy:
      return ServeSaveConfigCopy(e, args, c);
    case AdminCall::kApplyConfigCopy:
      return ServeLoadConfigCopy(e, args, c);
    case AdminCall::kGlobalFilterLists:
      return Serve<>(c, args, [&] { return e.GlobalFilterLists(); });
    case AdminCall::kApplyGlobalFilterLists:
      return Serve<ConsoleFilterLists>(c, args,
                                       [&](const ConsoleFilterLists& lists) { e.ApplyGlobalFilterLists(lists); });
    case AdminCall::kFilterChoice:
      return Serve<StatisticsSubject, U32>(c, args, [&](StatisticsSubject s, U32 id) { return e.FilterChoice(s, id); });
    case AdminCall::kAddDenyFilter:
      return Serve<StatisticsSubject, U32, FilterAdditionScope, std::int32_t, Str>(
          c, args, [&](StatisticsSubject s, U32 id, FilterAdditionScope scope, std::int32_t kind, const Str& pattern) {
            return e.AddDenyFilter(s, id, scope, kind, pattern);
          });
    case AdminCall::kMailRelays:
      return Serve<>(c, args, [&] { return e.MailRelays(); });
    case AdminCall::kApplyMailRelays:
      return Serve<MailRuleList>(c, args, [&](const MailRuleList& rules) { return e.ApplyMailRelays(rules); });
    case AdminCall::kPortMappings:
      return Serve<>(c, args, [&] { return e.PortMappings(); });
    case AdminCall::kPortMapUsers:
      return Serve<>(c, args, [&] { return e.PortMapUsers(); });
    case AdminCall::kLocalAddresses:
      return Serve<>(c, args, [&] { return e.LocalAddresses(); });
    case AdminCall::kApplyPortMappings:
      return Serve<std::vector<PortMapRule>>(
          c, args, [&](const std::vector<PortMapRule>& rules) { return e.ApplyPortMappings(rules); });
    case AdminCall::kTicket:
      return Serve<U32>(c, args, [&](U32 id) { return e.Ticket(id); });
    case AdminCall::kApplyTicket:
      return ServeApplyTicket(e, args, c);
    case AdminCall::kCloseTicket:
      return Serve<U32>(c, args, [&](U32 id) { return e.CloseTicket(id); });
    case AdminCall::kUserMessageRefusal:
      return Serve<U32>(c, args, [&](U32 id) { return e.UserMessageRefusal(id); });
    case AdminCall::kDialUpEntries:
      return Serve<>(c, args, [&] { return e.DialUpEntries(); });
    case AdminCall::kGatewayFigures:
    case AdminCall::kStopGateway:
      break;
  }
  return std::nullopt;
}

}  // namespace brindlex
