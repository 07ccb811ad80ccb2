// A realistic account configuration for round-trip tests and the benchmark:
// groups and users with varied limits, schedules, filters, e-mails and address
// lists, written into one settings text in the order the editor writes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/filter_text.h"
#include "core/groups.h"
#include "core/ini_file.h"
#include "core/users.h"

namespace brindlex::testing {

struct RealisticAccounts {
  std::vector<GroupRecord> groups;
  std::vector<UserRecord> users;  // as loading sets them: stored, speed history empty
  std::string text;               // the settings file
};

// A filter text of `entries` entries of every kind.
inline std::string RealisticFilterText(int entries, int seed) {
  FilterList list{true, {}};
  for (int i = 0; i < entries; ++i) {
    static const char* const forms[] = {"http://site%d.example.com/*", "*.ads%d.net", "/banners/%d/*", ".ex%d"};
    char pattern[64];
    std::snprintf(pattern, sizeof(pattern), forms[i % 4], seed * 1000 + i);
    list.entries.push_back({pattern, static_cast<std::uint8_t>(i % 4), static_cast<std::uint8_t>(i % 7 == 6)});
  }
  return FormatFilterText(list);
}

inline RealisticAccounts MakeRealisticAccounts(int groupCount, int userCount) {
  RealisticAccounts accounts;
  IniDocument document;
  SetValue(document, "System", "HttpPort", "8080; 3128");
  SetValue(document, "System", "KbPerMb", "1024");
  for (int n = 0; n < groupCount; ++n) {
    GroupRecord g = n == 0 ? MakeDefaultGroup() : GroupRecord{};
    g.number = static_cast<std::uint32_t>(n);
    if (n) g.name = "Отдел " + std::to_string(n);
    g.rules.dailyReport = n % 2;
    g.rules.monthlyReport = n % 3 == 0;
    g.schedule = ParseSchedule(n % 2 ? "9-18/9-18/9-18/9-18/9-17///" : "1-24/1-24/1-24/1-24/1-24/1-12,20-24//");
    g.denyFilter = RealisticFilterText(n % 5, n);
    g.allowFilter = n % 4 ? "" : RealisticFilterText(2, n + 7);
    g.tariffIn = (n % 9) * 0.125;
    g.tariffOut = 0.05;
    g.tariffHour = n % 4;
    g.exchangeRate = 92.35;
    g.sessionTimeout = 60 + n;
    g.rules.countOutgoing = n % 2 == 0;
    g.rules.countIncoming = true;
    g.rules.monthMb = 1000 + n * 0.25;
    g.rules.monthMinutes = 6000;
    g.rules.dayMb = n % 3 * 50.5;
    g.rules.dayMinutes = 240;
    g.rules.speedNormal = 128;
    g.rules.speedExceeded = n % 2 ? 8 : 0;
    g.clientAddresses =
        n % 3 ? "" : "192.168." + std::to_string(n % 250) + ".1-192.168." + std::to_string(n % 250) + ".254";
    g.rules.protocolDenied = {false, n % 2 == 1, false, false, n % 5 == 0, true};
    g.rules.allowedAfterExceed = {n % 2 == 0, false, true, true, false, false};
    g.rules.maxDocumentMb = n % 7;
    g.rules.bigTransferMb = 20;
    g.rules.bigTransferSpeed = 32.5;
    g.rules.finishTransfers = n % 2;
    g.rules.passAuthToParent = n % 11 == 0;
    g.rules.countCacheTraffic = n % 13 == 0;
    g.rules.prepaid = n % 17 == 0;
    g.rules.dialUpDenied = n % 19 == 0;
    StoreGroup(g, document);
    accounts.groups.push_back(g);
  }
  for (int n = 0; n < userCount; ++n) {
    const GroupRecord& g = accounts.groups[static_cast<size_t>(n % groupCount)];
    UserRecord u;
    u.byAddress = n % 3 == 0;
    u.login = u.byAddress ? "10.0." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1)
                          : "user" + std::to_string(n);
    u.name = "Пользователь " + std::to_string(n);
    u.password = u.byAddress ? (n % 2 ? "00A0C9123456" : "") : "pw;" + std::to_string(n * 7919);
    u.groupNumber = g.number;
    u.admin = n == 1;
    u.disabled = n % 23 == 0;
    u.emails = "user" + std::to_string(n) + "@example.ru; u" + std::to_string(n) + "@mail.example.ru";
    u.reportEmail = n % 2 ? "boss@example.ru" : "";
    u.schedule = g.schedule;
    u.denyFilter = RealisticFilterText(n % 6, n + 100);
    u.allowFilter = n % 5 ? "" : RealisticFilterText(1, n + 900);
    u.rules = g.rules;
    if (n % 4 == 1) u.rules.monthMb = 250.75;
    u.clientAddresses = n % 2 ? "" : "10.0.0.1-10.0.3.254; 172.16.0.5-172.16.0.5";
    StoreUser(u, document);
    u.deleted = false;
    u.speedHistory.fill(-1);
    accounts.users.push_back(u);
  }
  accounts.text = FormatIni(document);
  return accounts;
}

}  // namespace brindlex::testing
