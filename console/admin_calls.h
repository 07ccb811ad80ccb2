// The call numbers of the administration channel: one per ConsoleEngine
// method, and the gateway program's own calls. A number names its call for
// good: a call that goes away leaves its number unused, a new call takes the
// next free one, so that a console and a gateway of different builds never
// take one call for another.
//
// Arguments and replies (console/admin_records.h encodes them), in order:
// each call sends the method's arguments and gets its result; a method
// without a result gets an empty reply. Where they differ from the method:
//   kRebuildCounters   progress frames carry RebuildProgress
//   kSessionTree       optional<vector<ConsoleAddressSession>>
//   kStatistics        the query; the console's abort stops the reading
//   kExportCacheObject the URL; the reply is the object's bytes (empty: none)
//   kSaveConfigCopy    no arguments; the reply is {bool ok, bytes of the copy}
//   kApplyConfigCopy   the bytes of the copy; the reply is ConfigEditOutcome
//   kApplyTicket       the outcome, then the entry as the gateway left it
//
// Threads: constants only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brindlex {

enum class AdminCall : std::uint16_t {
  kUsers = 1,
  kRebuildCounters = 2,
  kCloseUserSessions = 3,
  kToggleUserDisabled = 4,
  kSessionTree = 5,
  kCloseTreeLine = 6,
  kStatus = 7,
  kSpeedHistory = 8,
  kMonitorShows = 9,
  kSetMonitorShows = 10,
  kCacheEntries = 11,
  kCache = 12,
  kDeleteCacheEntry = 13,
  kExportCacheObject = 14,
  kResetCacheFigures = 15,
  kUserReport = 16,
  kSendUserMessage = 17,
  kStatistics = 18,
  kConfigValues = 19,
  kApplyConfigControls = 20,
  kAdminPasswordRequired = 21,
  kAdminPasswordMatches = 22,
  kConfigGroup = 23,
  kNewConfigGroup = 24,
  kSaveConfigGroup = 25,
  kCheckConfigGroupDeletion = 26,
  kDeleteConfigGroup = 27,
  kApplyGroupRulesToUsers = 28,
  kConfigUser = 29,
  kNewConfigUser = 30,
  kSaveConfigUser = 31,
  kDeleteConfigUser = 32,
  kMoveConfigUser = 33,
  kApplyGroupRulesToUser = 34,
  kMacAddressOf = 35,
  kSaveConfigCopy = 36,
  // 37 loaded a copy into the tables alone, which the next reload undid.
  kGlobalFilterLists = 38,
  kApplyGlobalFilterLists = 39,
  kFilterChoice = 40,
  kAddDenyFilter = 41,
  kMailRelays = 42,
  kApplyMailRelays = 43,
  kPortMappings = 44,
  kPortMapUsers = 45,
  kLocalAddresses = 46,
  kApplyPortMappings = 47,
  kTicket = 48,
  kApplyTicket = 49,
  kCloseTicket = 50,
  kApplyConfigCopy = 51,
  kUserMessageRefusal = 52,
  kDialUpEntries = 53,

  // Served by the gateway program itself, not by the engine's dispatcher.
  kGatewayFigures = 200,
  kStopGateway = 201,
};

// Bounds of the calls that carry files.
inline constexpr std::size_t kAdminCacheObjectMax = 64u << 20;
inline constexpr std::size_t kAdminConfigCopyMax = 16u << 20;

}  // namespace brindlex
