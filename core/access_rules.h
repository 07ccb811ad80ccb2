// The access rules a group prescribes and each of its users carries: reports,
// counted directions, limits, speeds, services, transfer sizes and modes.
//
// A user starts with its group's rules and may then be given its own; the
// user's copy is what accounting and the access checks read (except the
// counted directions, which are read from the group). Schedule, filters and
// address lists are not rules in this sense: a user keeps its own whatever
// its group says.
#pragma once

#include <array>

namespace brindlex {

// Columns of protocolDenied and allowedAfterExceed.
enum ServiceColumn { kColumnHttp = 0, kColumnFtp, kColumnSmtp, kColumnPop3, kColumnSocks5, kColumnPortMap };
inline constexpr int kServiceColumns = 6;
using ServiceFlags = std::array<bool, kServiceColumns>;

struct AccessRules {
  bool dailyReport = false;
  bool monthlyReport = false;
  bool countOutgoing = false;
  bool countIncoming = false;
  double monthMb = 0;  // 0 = no limit
  double monthMinutes = 0;
  double dayMb = 0;
  double dayMinutes = 0;
  double speedNormal = 0;    // KB/s, 0 = unlimited
  double speedExceeded = 0;  // KB/s after a limit is exceeded, 0 = refused
  ServiceFlags protocolDenied{};
  ServiceFlags allowedAfterExceed{};
  double maxDocumentMb = 0;
  double bigTransferMb = 0;
  double bigTransferSpeed = 0;
  bool finishTransfers = false;
  bool passAuthToParent = false;
  bool countCacheTraffic = false;
  bool prepaid = false;
  bool dialUpDenied = false;

  // Reals compare exactly: a rule typed into the editor either is the
  // group's value or is the user's own.
  bool operator==(const AccessRules&) const = default;
};

}  // namespace brindlex
