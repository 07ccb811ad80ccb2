// Realistic records for the administration channel's tests, every field set
// to something other than its default, and field-by-field comparisons for the
// records that have no operator== of their own: a field the codec dropped on
// both sides would otherwise go unseen.
#pragma once

#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "console/console_engine.h"
#include "core/display_forms.h"

namespace brindlex::testing {

inline CounterBlock SampleCounters(std::int64_t seed) {
  return {seed * 60000 + 1, seed * 1048576 + 2, seed * 7340032 + 3, seed * 125 + 4, seed * 9000 + 5};
}

inline AccessRules SampleRules() {
  AccessRules r;
  r.dailyReport = true;
  r.monthlyReport = false;
  r.countOutgoing = true;
  r.countIncoming = false;
  r.monthMb = 2048.5;
  r.monthMinutes = 6000;
  r.dayMb = 150.25;
  r.dayMinutes = 480;
  r.speedNormal = 512;
  r.speedExceeded = 16.5;
  r.protocolDenied = {false, true, false, true, true, false};
  r.allowedAfterExceed = {true, false, true, false, false, true};
  r.maxDocumentMb = 700;
  r.bigTransferMb = 50;
  r.bigTransferSpeed = 64;
  r.finishTransfers = true;
  r.passAuthToParent = false;
  r.countCacheTraffic = true;
  r.prepaid = false;
  r.dialUpDenied = true;
  return r;
}

inline Schedule SampleSchedule() {
  Schedule s{};
  for (int hour = 0; hour < kScheduleDays * kScheduleHoursPerDay; ++hour) s[hour] = (hour % 24 >= 8 && hour % 24 < 19);
  return s;
}

inline ConsoleUser SampleUser(std::uint32_t id) {
  ConsoleUser u;
  u.id = id;
  u.groupNumber = 3;
  u.name = "Иванова Анна";
  u.login = "anna" + std::to_string(id);
  u.disabled = true;
  u.deleted = false;
  u.hasEmail = true;
  u.hasTicket = false;
  u.ticketOpen = true;
  u.ticketActive = false;
  u.ticketExhausted = true;
  u.ticketNumber = -17;
  u.ticketOpenedAt = 45123.625;
  u.activeAddresses = {0xC0A8000Au, 0x0A000001u};
  u.month = SampleCounters(30);
  u.day = SampleCounters(1);
  u.period = SampleCounters(7);
  u.ticketUsed = SampleCounters(2);
  u.ticketRemaining = {kNoValue, 5, kNoValue, 9, kNoValue};
  u.limits = {true, false, true, false, false, true};
  return u;
}

inline UsersSnapshot SampleSnapshot() {
  UsersSnapshot s;
  s.groups = {{0, "Default"}, {3, "Бухгалтерия"}};
  s.users = {SampleUser(0), SampleUser(1)};
  s.users[1].limits.dayTime = true;
  s.trafficOverheadPercent = -12;
  s.bytesPerMb = 1000000;
  s.billingDay = 20;
  return s;
}

inline std::vector<ConsoleAddressSession> SampleTree() {
  ConsoleConnection http{0x1122334455667788ull, "HTTP", 1234, 567890, "http://example.test/a?b=c"};
  ConsoleConnection ftp{42, "FTP", -1, std::numeric_limits<std::int64_t>::max(), "ftp://files.test/pub/"};
  ConsoleUserSession session{7, "Анна", "anna", 100, 200, 3600, 15, true, {http, ftp}};
  ConsoleAddressSession first{9, 0xC0A8000Au, -3, {session}, {ftp}};
  ConsoleAddressSession second{10, 0x7F000001u, 0, {}, {}};
  return {first, second};
}

inline GroupRecord SampleGroup() {
  GroupRecord g;
  g.number = 12;
  g.name = "Отдел продаж";
  g.schedule = SampleSchedule();
  g.denyFilter = "1; 0; 1, ads, 0;";
  g.allowFilter = "0; 0;";
  g.tariffIn = 1.5;
  g.tariffOut = 0.25;
  g.tariffHour = 30;
  g.exchangeRate = 92.75;
  g.sessionTimeout = 900;
  g.clientAddresses = "192.168.0.1-192.168.0.50";
  g.rules = SampleRules();
  return g;
}

inline ConsoleUserDraft SampleDraft() {
  ConsoleUserDraft d;
  d.groupNumber = 12;
  d.name = "Пётр Сидоров";
  d.disabled = true;
  d.admin = false;
  d.login = "petr";
  d.password = "S3cr;et";
  d.byAddress = true;
  d.emails = {"petr@example.test", "p.sidorov@example.test"};
  d.reportEmail = "boss@example.test";
  d.schedule = SampleSchedule();
  d.denyFilter = "1; 0; 3, .exe, 0;";
  d.allowFilter = "1; 0; 1, intranet.test, 1;";
  d.clientAddresses = "10.0.0.5";
  d.rules = SampleRules();
  return d;
}

inline PortMapRule SamplePortRule(const std::string& name) {
  PortMapRule r;
  r.name = name;
  r.protocol = kPortMapUdp;
  r.sourceKind = 7;  // as a hand-edited file may hold it
  r.sourceFrom = 0x0A000001u;
  r.sourceTo = 0x0A0000FFu;
  r.listenAddress = 0xC0A80001u;
  r.listenPort = 5353;
  r.destHost = "dns.example.test:53";
  r.destPort = 65535;
  r.authByClient = false;
  r.login = "petr";
  r.disabled = true;
  return r;
}

inline ConsoleTicket SampleTicket() {
  ConsoleTicket t;
  t.userName = "Анна";
  t.login = "anna";
  t.prepaid = true;
  t.ticket = {true, 31, 45100.5, 45120.75, SampleCounters(100), SampleCounters(3)};
  t.remaining = {kNoValue, 1, 2, kNoValue, 4};
  t.bytesPerMb = 1000000;
  return t;
}

inline StatisticsQuery SampleQuery() {
  StatisticsQuery q;
  q.subject = StatisticsSubject::kGroup;
  q.login = "anna";
  q.groupNumber = 3;
  q.level = StatisticsLevel::kUrls;
  q.start = 45000.25;
  q.end = 45001.5;
  q.hourWindow = true;
  q.host = "example.test";
  q.byDays = true;
  return q;
}

// Field-by-field views of the records without operator==.
inline auto Fields(const ConsoleGroup& v) { return std::tie(v.number, v.name); }
inline auto Fields(const ConsoleLimits& v) {
  return std::tie(v.monthTraffic, v.monthTime, v.dayTraffic, v.dayTime, v.countsIncoming, v.countsOutgoing);
}
inline auto Fields(const ConsoleUser& v) {
  return std::tuple_cat(std::tie(v.id, v.groupNumber, v.name, v.login, v.disabled, v.deleted, v.hasEmail, v.hasTicket,
                                 v.ticketOpen, v.ticketActive, v.ticketExhausted, v.ticketNumber, v.ticketOpenedAt,
                                 v.activeAddresses, v.month, v.day, v.period, v.ticketUsed, v.ticketRemaining),
                        Fields(v.limits));
}
inline auto Fields(const ConsoleConnection& v) { return std::tie(v.handle, v.serviceName, v.sent, v.received, v.url); }
inline auto Fields(const ConsoleCacheEntry& v) {
  return std::tie(v.url, v.length, v.created, v.accepted, v.used, v.validUntil);
}
inline auto Fields(const CacheFigures& v) {
  return std::tie(v.internetBytes, v.cacheBytes, v.objects, v.objectBytes, v.bytesPerMb);
}
inline auto Fields(const StatusFigures& v) { return std::tie(v.userSessions, v.connections); }
inline auto Fields(const StatisticsQuery& v) {
  return std::tie(v.subject, v.login, v.groupNumber, v.level, v.start, v.end, v.hourWindow, v.host, v.byDays);
}
inline auto Fields(const StatisticsRow& v) { return std::tie(v.label, v.received, v.sent, v.timeMs, v.rating); }
inline auto Fields(const ConfigBox& v) { return std::tie(v.caption, v.text); }
inline auto Fields(const ConfigEditOutcome& v) { return std::tuple_cat(std::tie(v.ok, v.id), Fields(v.box)); }
inline auto Fields(const ConsoleFilterChoice& v) {
  return std::tie(v.userEnabled, v.groupEnabled, v.proposed, v.userName, v.groupName);
}
inline auto Fields(const MailDomainRule& v) {
  return std::tie(v.domain, v.smtpServer, v.smtpPort, v.popServer, v.popPort, v.disabled);
}
inline auto Fields(const PortMapRule& v) {
  return std::tie(v.name, v.protocol, v.sourceKind, v.sourceFrom, v.sourceTo, v.listenAddress, v.listenPort, v.destHost,
                  v.destPort, v.authByClient, v.login, v.disabled);
}
inline auto Fields(const UserChoice& v) { return std::tie(v.text, v.login); }
inline auto Fields(const ConsoleTicket& v) {
  return std::tie(v.userName, v.login, v.prepaid, v.ticket, v.remaining, v.bytesPerMb);
}
inline auto Fields(const TicketEntry& v) {
  return std::tie(v.outgoingMb, v.incomingMb, v.minutes, v.money, v.nationalMoney);
}
inline auto Fields(const EditOutcome& v) { return std::tie(v.ok, v.caption, v.message); }
inline auto Fields(const SubscriptionOutcome& v) {
  return std::tuple_cat(Fields(v.edit), std::tie(v.event, v.monitorText));
}

// Trees and lists of records compare element by element.
inline bool Same(const ConsoleUserSession& a, const ConsoleUserSession& b);
inline bool Same(const ConsoleAddressSession& a, const ConsoleAddressSession& b);
inline bool Same(const UsersSnapshot& a, const UsersSnapshot& b);
inline bool Same(const ConfigApplyOutcome& a, const ConfigApplyOutcome& b);
template <class T>
bool Same(const std::optional<T>& a, const std::optional<T>& b);
template <class T>
bool Same(const std::vector<T>& a, const std::vector<T>& b);

template <class T>
bool Same(const T& a, const T& b) {
  if constexpr (requires { a == b; }) {
    return a == b;
  } else {
    return Fields(a) == Fields(b);
  }
}

template <class T>
bool Same(const std::optional<T>& a, const std::optional<T>& b) {
  return a.has_value() == b.has_value() && (!a || Same(*a, *b));
}

template <class T>
bool Same(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!Same(a[i], b[i])) return false;
  }
  return true;
}

inline bool Same(const ConsoleUserSession& a, const ConsoleUserSession& b) {
  return std::tie(a.handle, a.userName, a.login, a.outgoing, a.incoming, a.timeSeconds, a.idleSeconds,
                  a.closeRequested) == std::tie(b.handle, b.userName, b.login, b.outgoing, b.incoming, b.timeSeconds,
                                                b.idleSeconds, b.closeRequested) &&
         Same(a.connections, b.connections);
}
inline bool Same(const ConsoleAddressSession& a, const ConsoleAddressSession& b) {
  return a.handle == b.handle && a.address == b.address && a.idle == b.idle && Same(a.userSessions, b.userSessions) &&
         Same(a.unattributed, b.unattributed);
}
inline bool Same(const UsersSnapshot& a, const UsersSnapshot& b) {
  return Same(a.groups, b.groups) && Same(a.users, b.users) && a.trafficOverheadPercent == b.trafficOverheadPercent &&
         a.bytesPerMb == b.bytesPerMb && a.billingDay == b.billingDay;
}
inline bool Same(const ConfigApplyOutcome& a, const ConfigApplyOutcome& b) {
  return a.ok == b.ok && a.failedControl == b.failedControl && Same(a.box, b.box) && a.saved == b.saved;
}

}  // namespace brindlex::testing
