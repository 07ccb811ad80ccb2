#include "console/admin_records.h"

namespace brindlex {

namespace {

template <class Enum>
void PutEnum(WireWriter& w, Enum v) {
  w.PutU8(static_cast<std::uint8_t>(v));
}

// Reads an enum whose values run from `first` to `last`.
template <class Enum>
bool GetEnum(WireReader& r, Enum& v, Enum first, Enum last) {
  std::uint8_t raw = 0;
  if (!r.GetU8(raw)) return false;
  if (raw < static_cast<std::uint8_t>(first) || raw > static_cast<std::uint8_t>(last)) return r.Fail();
  v = static_cast<Enum>(raw);
  return true;
}

}  // namespace

void Put(WireWriter& w, RebuildView v) { PutEnum(w, v); }
void Put(WireWriter& w, TreeLineKind v) { PutEnum(w, v); }
void Put(WireWriter& w, SpeedSubject v) { PutEnum(w, v); }
void Put(WireWriter& w, FilterAdditionScope v) { PutEnum(w, v); }
void Put(WireWriter& w, StatisticsSubject v) { PutEnum(w, v); }
void Put(WireWriter& w, StatisticsLevel v) { PutEnum(w, v); }
void Put(WireWriter& w, MailRefusal v) { PutEnum(w, v); }

bool Get(WireReader& r, RebuildView& v) { return GetEnum(r, v, RebuildView::kMonth, RebuildView::kInterval); }
bool Get(WireReader& r, TreeLineKind& v) { return GetEnum(r, v, TreeLineKind::kAddress, TreeLineKind::kConnection); }
bool Get(WireReader& r, SpeedSubject& v) { return GetEnum(r, v, SpeedSubject::kUser, SpeedSubject::kProgram); }
bool Get(WireReader& r, MailRefusal& v) { return GetEnum(r, v, MailRefusal::kNone, MailRefusal::kNoAnswer); }
bool Get(WireReader& r, FilterAdditionScope& v) {
  return GetEnum(r, v, FilterAdditionScope::kUser, FilterAdditionScope::kGlobal);
}
bool Get(WireReader& r, StatisticsSubject& v) {
  return GetEnum(r, v, StatisticsSubject::kUser, StatisticsSubject::kAll);
}
bool Get(WireReader& r, StatisticsLevel& v) { return GetEnum(r, v, StatisticsLevel::kDays, StatisticsLevel::kUrls); }

// Each record goes out field by field in declaration order; Get reads them
// back in the same order.

void Put(WireWriter& w, const CounterBlock& v) {
  PutAll(w, v.timeMs, v.outgoing, v.incoming, v.money, v.nationalMoney);
}
bool Get(WireReader& r, CounterBlock& v) {
  return GetAll(r, v.timeMs, v.outgoing, v.incoming, v.money, v.nationalMoney);
}

void Put(WireWriter& w, const ConsoleGroup& v) { PutAll(w, v.number, v.name); }
bool Get(WireReader& r, ConsoleGroup& v) { return GetAll(r, v.number, v.name); }

void Put(WireWriter& w, const ConsoleLimits& v) {
  PutAll(w, v.monthTraffic, v.monthTime, v.dayTraffic, v.dayTime, v.countsIncoming, v.countsOutgoing);
}
bool Get(WireReader& r, ConsoleLimits& v) {
  return GetAll(r, v.monthTraffic, v.monthTime, v.dayTraffic, v.dayTime, v.countsIncoming, v.countsOutgoing);
}

void Put(WireWriter& w, const ConsoleUser& v) {
  PutAll(w, v.id, v.groupNumber, v.name, v.login, v.disabled, v.deleted, v.hasEmail, v.hasTicket, v.ticketOpen,
         v.ticketActive, v.ticketExhausted, v.ticketNumber, v.ticketOpenedAt, v.activeAddresses, v.month, v.day,
         v.period, v.ticketUsed, v.ticketRemaining, v.limits);
}
bool Get(WireReader& r, ConsoleUser& v) {
  return GetAll(r, v.id, v.groupNumber, v.name, v.login, v.disabled, v.deleted, v.hasEmail, v.hasTicket, v.ticketOpen,
                v.ticketActive, v.ticketExhausted, v.ticketNumber, v.ticketOpenedAt, v.activeAddresses, v.month, v.day,
                v.period, v.ticketUsed, v.ticketRemaining, v.limits);
}

void Put(WireWriter& w, const UsersSnapshot& v) {
  PutAll(w, v.groups, v.users, std::int32_t{v.trafficOverheadPercent}, v.bytesPerMb, std::int32_t{v.billingDay});
}
bool Get(WireReader& r, UsersSnapshot& v) {
  std::int32_t overhead = 0;
  std::int32_t billingDay = 0;
  if (!GetAll(r, v.groups, v.users, overhead, v.bytesPerMb, billingDay)) return false;
  v.trafficOverheadPercent = overhead;
  v.billingDay = billingDay;
  return true;
}

void Put(WireWriter& w, const ConsoleConnection& v) { PutAll(w, v.handle, v.serviceName, v.sent, v.received, v.url); }
bool Get(WireReader& r, ConsoleConnection& v) { return GetAll(r, v.handle, v.serviceName, v.sent, v.received, v.url); }

void Put(WireWriter& w, const ConsoleUserSession& v) {
  PutAll(w, v.handle, v.userName, v.login, v.outgoing, v.incoming, v.timeSeconds, v.idleSeconds, v.closeRequested,
         v.connections);
}
bool Get(WireReader& r, ConsoleUserSession& v) {
  return GetAll(r, v.handle, v.userName, v.login, v.outgoing, v.incoming, v.timeSeconds, v.idleSeconds,
                v.closeRequested, v.connections);
}

void Put(WireWriter& w, const ConsoleAddressSession& v) {
  PutAll(w, v.handle, v.address, v.idle, v.userSessions, v.unattributed);
}
bool Get(WireReader& r, ConsoleAddressSession& v) {
  return GetAll(r, v.handle, v.address, v.idle, v.userSessions, v.unattributed);
}

void Put(WireWriter& w, const ConsoleCacheEntry& v) {
  PutAll(w, v.url, v.length, v.created, v.accepted, v.used, v.validUntil);
}
bool Get(WireReader& r, ConsoleCacheEntry& v) {
  return GetAll(r, v.url, v.length, v.created, v.accepted, v.used, v.validUntil);
}

void Put(WireWriter& w, const CacheFigures& v) {
  PutAll(w, v.internetBytes, v.cacheBytes, v.objects, v.objectBytes, v.bytesPerMb);
}
bool Get(WireReader& r, CacheFigures& v) {
  return GetAll(r, v.internetBytes, v.cacheBytes, v.objects, v.objectBytes, v.bytesPerMb);
}

void Put(WireWriter& w, const ServiceCounts& v) { PutAll(w, v.bytesFromClients, v.bytesToClients, v.accepted, v.refused); }
bool Get(WireReader& r, ServiceCounts& v) { return GetAll(r, v.bytesFromClients, v.bytesToClients, v.accepted, v.refused); }

void Put(WireWriter& w, const CounterSnapshot& v) {
  PutAll(w, v.services, v.dnsAnsweredLocally, v.dnsForwarded, v.dnsRefused, v.cacheHits, v.cacheMisses, v.cacheBytes);
}
bool Get(WireReader& r, CounterSnapshot& v) {
  return GetAll(r, v.services, v.dnsAnsweredLocally, v.dnsForwarded, v.dnsRefused, v.cacheHits, v.cacheMisses,
                v.cacheBytes);
}

void Put(WireWriter& w, const ServicePortFigure& v) { PutAll(w, v.service, v.rule, v.port, v.listening); }
bool Get(WireReader& r, ServicePortFigure& v) { return GetAll(r, v.service, v.rule, v.port, v.listening); }

void Put(WireWriter& w, const GatewayFigures& v) {
  PutAll(w, v.uptimeSeconds, v.connections, v.usersOnline, v.logLinesWaiting, v.logBytesWaiting, v.logLinesLost,
         v.ports, v.counters);
}
bool Get(WireReader& r, GatewayFigures& v) {
  return GetAll(r, v.uptimeSeconds, v.connections, v.usersOnline, v.logLinesWaiting, v.logBytesWaiting,
                v.logLinesLost, v.ports, v.counters);
}

void Put(WireWriter& w, const StatusFigures& v) { PutAll(w, v.userSessions, v.connections); }
bool Get(WireReader& r, StatusFigures& v) { return GetAll(r, v.userSessions, v.connections); }

void Put(WireWriter& w, const StatisticsQuery& v) {
  PutAll(w, v.subject, v.login, v.groupNumber, v.level, v.start, v.end, v.hourWindow, v.host, v.byDays);
}
bool Get(WireReader& r, StatisticsQuery& v) {
  return GetAll(r, v.subject, v.login, v.groupNumber, v.level, v.start, v.end, v.hourWindow, v.host, v.byDays);
}

void Put(WireWriter& w, const StatisticsRow& v) { PutAll(w, v.label, v.received, v.sent, v.timeMs, v.rating); }
bool Get(WireReader& r, StatisticsRow& v) { return GetAll(r, v.label, v.received, v.sent, v.timeMs, v.rating); }

void Put(WireWriter& w, const ConfigControlValue& v) { PutAll(w, v.name, v.text, v.items, v.confirmation); }
bool Get(WireReader& r, ConfigControlValue& v) { return GetAll(r, v.name, v.text, v.items, v.confirmation); }

void Put(WireWriter& w, const ConfigBox& v) { PutAll(w, v.caption, v.text); }
bool Get(WireReader& r, ConfigBox& v) { return GetAll(r, v.caption, v.text); }

void Put(WireWriter& w, const ConfigApplyOutcome& v) { PutAll(w, v.ok, v.failedControl, v.box, v.saved); }
bool Get(WireReader& r, ConfigApplyOutcome& v) { return GetAll(r, v.ok, v.failedControl, v.box, v.saved); }

void Put(WireWriter& w, const ConfigEditOutcome& v) { PutAll(w, v.ok, v.box, v.id); }
bool Get(WireReader& r, ConfigEditOutcome& v) { return GetAll(r, v.ok, v.box, v.id); }

void Put(WireWriter& w, const AccessRules& v) {
  PutAll(w, v.dailyReport, v.monthlyReport, v.countOutgoing, v.countIncoming, v.monthMb, v.monthMinutes, v.dayMb,
         v.dayMinutes, v.speedNormal, v.speedExceeded, v.protocolDenied, v.allowedAfterExceed, v.maxDocumentMb,
         v.bigTransferMb, v.bigTransferSpeed, v.finishTransfers, v.passAuthToParent, v.countCacheTraffic, v.prepaid,
         v.dialUpDenied);
}
bool Get(WireReader& r, AccessRules& v) {
  return GetAll(r, v.dailyReport, v.monthlyReport, v.countOutgoing, v.countIncoming, v.monthMb, v.monthMinutes, v.dayMb,
                v.dayMinutes, v.speedNormal, v.speedExceeded, v.protocolDenied, v.allowedAfterExceed, v.maxDocumentMb,
                v.bigTransferMb, v.bigTransferSpeed, v.finishTransfers, v.passAuthToParent, v.countCacheTraffic,
                v.prepaid, v.dialUpDenied);
}

// The group's stored data only: its console state (period totals, speed
// history, view flags) belongs to the gateway's table and is kept there
// when an edited group is saved.
void Put(WireWriter& w, const GroupRecord& v) {
  PutAll(w, v.number, v.name, v.schedule, v.denyFilter, v.allowFilter, v.tariffIn, v.tariffOut, v.tariffHour,
         v.exchangeRate, v.sessionTimeout, v.clientAddresses, v.rules);
}
bool Get(WireReader& r, GroupRecord& v) {
  return GetAll(r, v.number, v.name, v.schedule, v.denyFilter, v.allowFilter, v.tariffIn, v.tariffOut, v.tariffHour,
                v.exchangeRate, v.sessionTimeout, v.clientAddresses, v.rules);
}

void Put(WireWriter& w, const ConsoleUserDraft& v) {
  PutAll(w, v.groupNumber, v.name, v.disabled, v.admin, v.login, v.password, v.byAddress, v.emails, v.reportEmail,
         v.schedule, v.denyFilter, v.allowFilter, v.clientAddresses, v.rules);
}
bool Get(WireReader& r, ConsoleUserDraft& v) {
  return GetAll(r, v.groupNumber, v.name, v.disabled, v.admin, v.login, v.password, v.byAddress, v.emails,
                v.reportEmail, v.schedule, v.denyFilter, v.allowFilter, v.clientAddresses, v.rules);
}

void Put(WireWriter& w, const FilterEntry& v) { PutAll(w, v.pattern, v.kind, v.off); }
bool Get(WireReader& r, FilterEntry& v) { return GetAll(r, v.pattern, v.kind, v.off); }

void Put(WireWriter& w, const ConsoleFilterLists& v) { PutAll(w, v.enabled, v.deny, v.allow); }
bool Get(WireReader& r, ConsoleFilterLists& v) { return GetAll(r, v.enabled, v.deny, v.allow); }

void Put(WireWriter& w, const ConsoleFilterChoice& v) {
  PutAll(w, v.userEnabled, v.groupEnabled, v.proposed, v.userName, v.groupName);
}
bool Get(WireReader& r, ConsoleFilterChoice& v) {
  return GetAll(r, v.userEnabled, v.groupEnabled, v.proposed, v.userName, v.groupName);
}

void Put(WireWriter& w, const MailDomainRule& v) {
  PutAll(w, v.domain, v.smtpServer, v.smtpPort, v.popServer, v.popPort, v.disabled);
}
bool Get(WireReader& r, MailDomainRule& v) {
  return GetAll(r, v.domain, v.smtpServer, v.smtpPort, v.popServer, v.popPort, v.disabled);
}

// Without its socket, which only the gateway's listener holds. Protocol and
// source kind cross as stored: a rule read from a hand-edited file may hold
// any number there, and the list must still reach the editor.
void Put(WireWriter& w, const PortMapRule& v) {
  PutAll(w, v.name, v.protocol, v.sourceKind, v.sourceFrom, v.sourceTo, v.listenAddress, v.listenPort, v.destHost,
         v.destPort, v.authByClient, v.login, v.disabled);
}
bool Get(WireReader& r, PortMapRule& v) {
  return GetAll(r, v.name, v.protocol, v.sourceKind, v.sourceFrom, v.sourceTo, v.listenAddress, v.listenPort,
                v.destHost, v.destPort, v.authByClient, v.login, v.disabled);
}

void Put(WireWriter& w, const UserChoice& v) { PutAll(w, v.text, v.login); }
bool Get(WireReader& r, UserChoice& v) { return GetAll(r, v.text, v.login); }

void Put(WireWriter& w, const TicketRecord& v) {
  PutAll(w, v.open, v.number, v.openedAt, v.changedAt, v.limit, v.used);
}
bool Get(WireReader& r, TicketRecord& v) {
  return GetAll(r, v.open, v.number, v.openedAt, v.changedAt, v.limit, v.used);
}

void Put(WireWriter& w, const ConsoleTicket& v) {
  PutAll(w, v.userName, v.login, v.prepaid, v.ticket, v.remaining, v.bytesPerMb);
}
bool Get(WireReader& r, ConsoleTicket& v) {
  return GetAll(r, v.userName, v.login, v.prepaid, v.ticket, v.remaining, v.bytesPerMb);
}

void Put(WireWriter& w, const TicketEntry& v) {
  PutAll(w, v.outgoingMb, v.incomingMb, v.minutes, v.money, v.nationalMoney);
}
bool Get(WireReader& r, TicketEntry& v) {
  return GetAll(r, v.outgoingMb, v.incomingMb, v.minutes, v.money, v.nationalMoney);
}

void Put(WireWriter& w, const EditOutcome& v) { PutAll(w, v.ok, v.caption, v.message); }
bool Get(WireReader& r, EditOutcome& v) { return GetAll(r, v.ok, v.caption, v.message); }

void Put(WireWriter& w, const SubscriptionOutcome& v) { PutAll(w, v.edit, v.event, v.monitorText); }
bool Get(WireReader& r, SubscriptionOutcome& v) { return GetAll(r, v.edit, v.event, v.monitorText); }

void Put(WireWriter& w, const DialUpPhoneBook& v) { PutAll(w, v.entries, v.unusable, v.place); }
bool Get(WireReader& r, DialUpPhoneBook& v) { return GetAll(r, v.entries, v.unusable, v.place); }

void Put(WireWriter& w, const RebuildProgress& v) { PutAll(w, v.file, v.fileDone, v.fileSize, v.allDone, v.allSize); }
bool Get(WireReader& r, RebuildProgress& v) { return GetAll(r, v.file, v.fileDone, v.fileSize, v.allDone, v.allSize); }

}  // namespace brindlex
