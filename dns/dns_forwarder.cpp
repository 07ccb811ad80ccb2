#include "dns/dns_forwarder.h"

#include <algorithm>

#include "core/log_files.h"
#include "core/own_address.h"
#include "core/service_counters.h"
#include "core/sessions.h"
#include "dns/dns_hosts.h"

namespace brindlex {

namespace {

// A TTL with its top bit set counts as 0: nothing that large is meant.
constexpr std::uint32_t kTtlMax = 0x7FFFFFFF;

// The question as the report shows it: the name escaped like a log field.
void ReportQuestion(DnsReportLine& report, const char* kind, Ipv4 from, const DnsQuestion& question) {
  // Every datagram passes here: no line is built that nobody shows.
  if (!report.shown()) return;
  report.Add(std::string(kind) + ", from " + FormatIpv4(from) + ", '" + DnsTypeName(question.type) + "'-");
  report.Add(EscapeField(question.name));
}

// The servers of DnsServer a query may go to, in their order: the items that
// are addresses, but none of the gateway's own, where a query would only
// come back to this forwarder (and go round until the table is full).
std::vector<Ipv4> UpstreamServers(std::string_view list, const std::vector<Ipv4>& interfaces) {
  std::vector<Ipv4> servers;
  for (const std::string& item : SplitList(list)) {
    Ipv4 address = kNoAddress;
    if (ParseDottedQuad(Trim(item), address) && !IsOwnAddress(address, interfaces)) servers.push_back(address);
  }
  return servers;
}

}  // namespace

DnsForwarder::Outcome DnsForwarder::Handle(const DnsArrival& arrival, const SystemSettings& settings, std::int64_t now,
                                           const Sender& send, DnsReportLine& report) {
  DnsHeader header;
  if (!ReadDnsHeader(arrival.bytes, header)) return {};
  // Responses come from the upstream servers, outside the LAN; only the one
  // a query waits for is taken.
  if (!header.response() && !AddressesAdmitted(settings, arrival.from, arrival.localAddress)) return {0, true};
  DnsQuestion question;
  if (!ReadDnsQuestions(arrival.bytes, header, question)) return {};
  if (header.response()) return {HandleResponse(arrival, header, question, settings, now, send, report)};
  return {HandleQuery(arrival, header, question, settings, now, send, report)};
}

std::vector<LocalAnswer> DnsForwarder::LocalAnswers(const DnsArrival& arrival, const DnsQuestion& question,
                                                    const SystemSettings& settings, std::int64_t now,
                                                    bool& authoritative, DnsReportLine& report) {
  std::vector<LocalAnswer> answers;
  const bool address = question.type == kDnsTypeA;
  authoritative = true;
  // A browser looking for its proxy configuration finds the gateway itself,
  // whatever an upstream server or an old cache entry says.
  if (address && settings.EnableWpadDns && settings.EnableHTTP && arrival.localAddress != kNoAddress &&
      NamesHost(question.name, kWpadName, settings.DomainSuffix)) {
    report.Add(", answer for proxy configuration: " + FormatIpv4(arrival.localAddress));
    answers.push_back({arrival.localAddress, "", 0});
    return answers;
  }
  if (settings.EnableCachDns) {
    std::vector<DnsCache::Match> matches =
        address ? cache_.FindAddresses(question.name, now) : cache_.FindNames(question.name, now);
    if (!matches.empty()) report.Add(", answer from cache: ");
    for (const DnsCache::Match& match : matches) {
      report.Add((address ? FormatIpv4(match.address) : EscapeField(match.name)) + "; ");
      answers.push_back({match.address, match.name, match.ttlLeft});
    }
    if (!answers.empty()) {
      authoritative = false;
      return answers;
    }
  }
  if (settings.EnableHostsDns) {
    if (auto found = LookUpHostsFile(settings.HostsFileName, question.name, question.type, settings.DomainSuffix)) {
      report.Add(", answer from HOSTS: " + (address ? FormatIpv4(found->address) : EscapeField(found->name)));
      answers.push_back({found->address, found->name, 0});
    }
  }
  return answers;
}

int DnsForwarder::HandleQuery(const DnsArrival& arrival, const DnsHeader& header, const DnsQuestion& question,
                              const SystemSettings& settings, std::int64_t now, const Sender& send,
                              DnsReportLine& report) {
  ReportQuestion(report, "DNS_QUEST", arrival.from, question);
  if (header.opcode() == 0 && header.questionCount == 1 && question.qclass == kDnsClassIn &&
      (question.type == kDnsTypeA || question.type == kDnsTypePtr)) {
    bool authoritative = false;
    std::vector<LocalAnswer> answers = LocalAnswers(arrival, question, settings, now, authoritative, report);
    if (!answers.empty()) {
      CountUp(Counters().dnsAnsweredLocally);
      std::string reply = BuildLocalReply(arrival.bytes, question, answers, authoritative);
      return send(reply, arrival.from, arrival.fromPort) ? 0 : kDnsAnswerSendFailure;
    }
  }
  std::vector<Ipv4> servers = UpstreamServers(settings.DnsServer, interfaces_);
  if (servers.empty()) {
    // Said at once: a client waiting for its time-out would ask again and
    // again, and the local answers above keep working.
    report.Add(", answered SERVFAIL: no upstream server");
    return send(BuildFailureReply(arrival.bytes, question), arrival.from, arrival.fromPort) ? 0 : kDnsAnswerSendFailure;
  }
  DnsPendingTable::Entry* entry = pending_.Query(arrival.from, arrival.fromPort, header.id, question.name);
  if (!entry) {
    report.Add(pending_.full() ? ", dropped: too many queries waiting"
                               : ", dropped: too many queries of this client waiting");
    return 0;
  }
  entry->sentAt = now;
  if (entry->attempt >= servers.size()) entry->attempt = 0;
  entry->server = servers[entry->attempt];
  std::string forward(arrival.bytes);
  PutDnsId(forward, entry->forwardId);
  if (!send(forward, entry->server, kDnsPort)) return kDnsForwardSendFailure;
  CountUp(Counters().dnsForwarded);
  report.Add(", forvard to " + FormatIpv4(entry->server));
  return 0;
}

int DnsForwarder::HandleResponse(const DnsArrival& arrival, const DnsHeader& header, const DnsQuestion& question,
                                 const SystemSettings& settings, std::int64_t now, const Sender& send,
                                 DnsReportLine& report) {
  ReportQuestion(report, "DNS_ANSWER", arrival.from, question);
  report.Add(" = ");
  std::optional<DnsPendingTable::Entry> entry =
      arrival.fromPort == kDnsPort ? pending_.TakeAnswered(header.id, question.name, arrival.from) : std::nullopt;
  if (!entry) {
    // Not from the server the query went to, or for no query at all: a
    // forger's guess is neither relayed nor cached.
    report.Add("dropped: no query waits for it");
    return 0;
  }
  std::string relayed(arrival.bytes);
  PutDnsId(relayed, entry->clientId);
  if (!send(relayed, entry->clientAddress, entry->clientPort)) return kDnsAnswerSendFailure;
  if (header.rcode() != 0) report.Add("Error");
  if (header.opcode() == 0 && header.rcode() == 0 && header.recursionAvailable() && header.questionCount == 1 &&
      question.type == kDnsTypeA && question.qclass == kDnsClassIn)
    CacheAnswers(arrival.bytes, header, question, settings, now, report);
  return 0;
}

void DnsForwarder::CacheAnswers(std::string_view response, const DnsHeader& header, const DnsQuestion& question,
                                const SystemSettings& settings, std::int64_t now, DnsReportLine& report) {
  std::vector<DnsRecord> records;
  std::size_t at = question.end;
  DnsRecord record;
  for (int i = 0; i < header.answerCount && ReadDnsRecord(response, at, record); ++i) records.push_back(record);
  // The names the question stands for: itself and the aliases it leads to.
  // An A record of any other owner was not asked for and could be a plant.
  std::vector<std::string> chain{question.name};
  auto inChain = [&chain](std::string_view name) {
    return std::any_of(chain.begin(), chain.end(), [name](const std::string& n) { return EqualsNoCase(n, name); });
  };
  for (bool grown = true; grown;) {
    grown = false;
    for (const DnsRecord& alias : records) {
      std::string target;
      std::size_t dataAt = alias.dataAt;
      if (alias.type != kDnsTypeCname || alias.rclass != kDnsClassIn || !inChain(alias.owner) ||
          !DecodeDnsName(response, dataAt, target) || inChain(target))
        continue;
      chain.push_back(target);
      grown = true;
    }
  }
  bool storing = settings.EnableCachDns;
  for (const DnsRecord& answer : records) {
    if (answer.type != kDnsTypeA || answer.rclass != kDnsClassIn || answer.data.size() != 4) continue;
    Ipv4 address = 0;
    for (char byte : answer.data) address = address << 8 | static_cast<std::uint8_t>(byte);
    report.Add(FormatIpv4(address) + "; ");
    if (!storing || answer.ttl == 0 || answer.ttl > kTtlMax || !inChain(answer.owner)) continue;
    storing = cache_.Store(answer.owner, address, answer.ttl, now);
  }
}

bool DnsForwarder::AfterWait(bool quiet, const SystemSettings& settings, std::int64_t now) {
  if (!lastCleanUp_) lastCleanUp_ = now;
  if (!quiet && DnsCache::ElapsedSeconds(*lastCleanUp_, now) < kCleanUpSeconds) return false;
  Idle(settings, now);
  return true;
}

void DnsForwarder::Idle(const SystemSettings& settings, std::int64_t now) {
  if (settings.EnableCachDns)
    cache_.Expire(now);
  else
    cache_.Clear();
  pending_.Expire(now);
  lastCleanUp_ = now;
}

}  // namespace brindlex
