// The forwarder's handling of datagrams, driven with its own clock counts and
// a sender that records what would go out.
#include "dns/dns_forwarder.h"

#include <unistd.h>

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/strings.h"
#include "tests/unit/dns_wire.h"

namespace brindlex {
namespace {

using namespace dnswire;

constexpr std::int64_t kSecond = kPerformanceFrequency;

Ipv4 Address(const char* dotted) {
  Ipv4 address = kNoAddress;
  EXPECT_TRUE(ParseDottedQuad(dotted, address)) << dotted;
  return address;
}

struct Sent {
  std::string bytes;
  Ipv4 to = kNoAddress;
  std::uint16_t port = 0;
};

struct Answer {
  std::uint16_t id = 0;
  std::uint16_t flags = 0;
  std::vector<DnsRecord> records;
};

// The reply's ID, flags and answer records, decoded here field by field.
Answer Decode(const std::string& reply) {
  Answer answer;
  DnsHeader header;
  DnsQuestion question;
  EXPECT_TRUE(ReadDnsHeader(reply, header));
  EXPECT_TRUE(ReadDnsQuestions(reply, header, question));
  answer.id = header.id;
  answer.flags = header.flags;
  std::size_t at = question.end;
  for (int i = 0; i < header.answerCount; ++i) {
    DnsRecord record;
    EXPECT_TRUE(ReadDnsRecord(reply, at, record)) << i;
    answer.records.push_back(record);
  }
  EXPECT_EQ(at, reply.size());
  return answer;
}

std::string Octets(std::string_view data) {
  Ipv4 address = 0;
  for (char c : data) address = address << 8 | static_cast<std::uint8_t>(c);
  return FormatIpv4(address);
}

class Forwarder : public ::testing::Test {
 protected:
  Forwarder() {
    settings.DnsServer = "198.51.100.2; 198.51.100.3";
    settings.EnableCachDns = true;
  }

  // Hands one datagram over; returns the failure number (and keeps whether
  // it was refused).
  int Arrive(const std::string& bytes, Ipv4 from, std::uint16_t port = 5353) {
    DnsArrival arrival{bytes, from, port, local};
    report.Clear();
    DnsForwarder::Outcome outcome = forwarder.Handle(arrival, settings, now, send, report);
    refused = outcome.refused;
    return outcome.failure;
  }
  int FromClient(const std::string& bytes) { return Arrive(bytes, client, clientPort); }
  int FromServer(const std::string& bytes, const char* server = "198.51.100.2") {
    return Arrive(bytes, Address(server), kDnsPort);
  }
  // Fills the pending table with distinct unanswered queries, each client
  // address taking its whole share.
  void FillTable() {
    for (std::uint16_t i = 0; i < DnsPendingTable::kCapacity; ++i)
      ASSERT_EQ(Arrive(Query(i, "q" + std::to_string(i) + ".example"),
                       Address("10.0.0.10") + static_cast<Ipv4>(i / DnsPendingTable::kClientShare)),
                0);
  }
  // The ID a query went upstream with.
  std::uint16_t LastForwardId() {
    DnsHeader header;
    EXPECT_TRUE(ReadDnsHeader(sent.back().bytes, header));
    return header.id;
  }

  SystemSettings settings;
  DnsForwarder forwarder;
  DnsReportLine report;
  std::int64_t now = 5000 * kSecond;
  Ipv4 client = Address("10.0.0.5");
  std::uint16_t clientPort = 40000;
  Ipv4 local = Address("10.0.0.1");
  std::vector<Sent> sent;
  bool refused = false;
  bool sendWorks = true;
  DnsForwarder::Sender send = [this](std::string_view bytes, Ipv4 to, std::uint16_t port) {
    sent.push_back({std::string(bytes), to, port});
    return sendWorks && port != 0;  // as the kernel refuses port 0
  };
};

TEST_F(Forwarder, AQueryIsForwardedWithAForwardIdAndTheAnswerRelayedWithTheClientsId) {
  std::string query = Query(0x4242, "www.example.com");
  ASSERT_EQ(FromClient(query), 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, Address("198.51.100.2"));
  EXPECT_EQ(sent[0].port, kDnsPort);
  EXPECT_EQ(sent[0].bytes.substr(2), query.substr(2)) << "only the ID changes";
  EXPECT_EQ(report.text(), "DNS_QUEST, from 10.0.0.5, 'A'-www.example.com, forvard to 198.51.100.2");

  std::uint16_t forwardId = LastForwardId();
  std::string response = Response(forwardId, "www.example.com", {ARecord(kQuestionName, 300, {192, 0, 2, 1})});
  ASSERT_EQ(FromServer(response), 0);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].to, client);
  EXPECT_EQ(sent[1].port, clientPort);
  EXPECT_EQ(sent[1].bytes.substr(0, 2), Word(0x4242));
  EXPECT_EQ(sent[1].bytes.substr(2), response.substr(2));
  EXPECT_EQ(report.text(), "DNS_ANSWER, from 198.51.100.2, 'A'-www.example.com = 192.0.2.1; ");
  EXPECT_EQ(forwarder.pending().size(), 0u);
  // The same answer again belongs to no query any more.
  ASSERT_EQ(FromServer(response), 0);
  EXPECT_EQ(sent.size(), 2u);
}

TEST_F(Forwarder, ACachedAnswerCarriesTheTtlLeftWithoutAaAndIsForwardedAgainAfterExpiry) {
  FromClient(Query(1, "www.example.com"));
  FromServer(Response(LastForwardId(), "www.example.com", {ARecord(kQuestionName, 300, {192, 0, 2, 1})}));
  sent.clear();

  now += 42 * kSecond + kSecond / 2;
  ASSERT_EQ(FromClient(Query(0x0102, "WWW.example.com")), 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, client);
  Answer answer = Decode(sent[0].bytes);
  EXPECT_EQ(answer.id, 0x0102);
  EXPECT_EQ(answer.flags & kDnsFlagQr, kDnsFlagQr);
  EXPECT_EQ(answer.flags & kDnsFlagAa, 0);
  EXPECT_EQ(answer.flags & kDnsFlagRa, kDnsFlagRa);
  EXPECT_EQ(answer.flags & 0x0100, 0x0100) << "RD as the client asked";
  EXPECT_EQ(answer.flags & 0x0F, 0);
  ASSERT_EQ(answer.records.size(), 1u);
  EXPECT_EQ(answer.records[0].owner, "WWW.example.com");
  EXPECT_EQ(answer.records[0].ttl, 300u - 42u);
  EXPECT_EQ(Octets(answer.records[0].data), "192.0.2.1");
  EXPECT_EQ(report.text(), "DNS_QUEST, from 10.0.0.5, 'A'-WWW.example.com, answer from cache: 192.0.2.1; ");

  now += 258 * kSecond;
  sent.clear();
  ASSERT_EQ(FromClient(Query(0x0103, "www.example.com")), 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, Address("198.51.100.2")) << "300 s after it was stored the record is dead";
}

TEST_F(Forwarder, AReverseQueryIsAnsweredWithTheCachedName) {
  FromClient(Query(1, "files.example"));
  FromServer(Response(LastForwardId(), "files.example", {ARecord(kQuestionName, 600, {192, 0, 2, 7})}));
  sent.clear();
  ASSERT_EQ(FromClient(Query(2, "7.2.0.192.in-addr.arpa", kDnsTypePtr)), 0);
  ASSERT_EQ(sent.size(), 1u);
  Answer answer = Decode(sent[0].bytes);
  ASSERT_EQ(answer.records.size(), 1u);
  EXPECT_EQ(answer.records[0].type, kDnsTypePtr);
  std::string name;
  std::size_t at = answer.records[0].dataAt;
  ASSERT_TRUE(DecodeDnsName(sent[0].bytes, at, name));
  EXPECT_EQ(name, "files.example");
  EXPECT_EQ(report.text(),
            "DNS_QUEST, from 10.0.0.5, 'PTR'-7.2.0.192.in-addr.arpa, answer from cache: files.example; ");
}

TEST_F(Forwarder, RepetitionsMoveThroughTheServersAndBackWithOneForwardId) {
  std::string query = Query(99, "slow.example");
  std::vector<Ipv4> servers;
  std::vector<std::uint16_t> ids;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(FromClient(query), 0);
    servers.push_back(sent.back().to);
    ids.push_back(LastForwardId());
  }
  EXPECT_EQ(servers, (std::vector<Ipv4>{Address("198.51.100.2"), Address("198.51.100.3"), Address("198.51.100.2")}));
  EXPECT_EQ(ids[0], ids[1]);
  EXPECT_EQ(ids[0], ids[2]);
  EXPECT_EQ(forwarder.pending().size(), 1u);
  // Sent last to the first server: the second one's late answer is not taken.
  FromServer(Response(ids[0], "slow.example", {ARecord(kQuestionName, 60, {192, 0, 2, 3})}), "198.51.100.3");
  EXPECT_EQ(sent.size(), 3u);
  FromServer(Response(ids[0], "slow.example", {ARecord(kQuestionName, 60, {192, 0, 2, 3})}), "198.51.100.2");
  EXPECT_EQ(sent.size(), 4u);
}

TEST_F(Forwarder, ASpoofedAnswerWithTheRightIdFromAnotherAddressIsNeitherRelayedNorCached) {
  FromClient(Query(5, "bank.example"));
  std::uint16_t id = LastForwardId();
  std::string forged = Response(id, "bank.example", {ARecord(kQuestionName, 86400, {6, 6, 6, 6})});
  ASSERT_EQ(FromServer(forged, "198.51.100.9"), 0);
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(report.text(), "DNS_ANSWER, from 198.51.100.9, 'A'-bank.example = dropped: no query waits for it");
  // Nor from the right address but another port.
  ASSERT_EQ(Arrive(forged, Address("198.51.100.2"), 5300), 0);
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(forwarder.cache().size(), 0u);
  // The real answer still finds its query.
  FromServer(Response(id, "bank.example", {ARecord(kQuestionName, 300, {192, 0, 2, 50})}));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].to, client);
  auto cached = forwarder.cache().FindAddresses("bank.example", now);
  ASSERT_EQ(cached.size(), 1u);
  EXPECT_EQ(FormatIpv4(cached[0].address), "192.0.2.50");
}

TEST_F(Forwarder, OnlyAddressRecordsOnTheCnameChainAreCachedEachUnderItsOwner) {
  FromClient(Query(5, "www.shop.example"));
  std::string alias = Labels("cdn.example");
  std::string response = Response(
      LastForwardId(), "www.shop.example",
      {CnameRecord(kQuestionName, 300, alias), ARecord(alias, 300, {192, 0, 2, 20}),
       ARecord(Labels("victim.example"), 300, {6, 6, 6, 6}), ARecord(Labels("other.example"), 0, {192, 0, 2, 21})});
  FromServer(response);
  EXPECT_EQ(sent.size(), 2u);
  EXPECT_EQ(report.text(), "DNS_ANSWER, from 198.51.100.2, 'A'-www.shop.example = 192.0.2.20; 6.6.6.6; 192.0.2.21; ");
  EXPECT_EQ(forwarder.cache().size(), 1u);
  EXPECT_EQ(forwarder.cache().FindAddresses("cdn.example", now).size(), 1u);
  EXPECT_TRUE(forwarder.cache().FindAddresses("victim.example", now).empty());
  // The alias name itself holds no address record: it goes upstream again.
  sent.clear();
  FromClient(Query(6, "www.shop.example"));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, Address("198.51.100.2"));
}

TEST_F(Forwarder, AnswersWithTtlZeroOrAnErrorAreRelayedButNotCached) {
  FromClient(Query(5, "volatile.example"));
  FromServer(Response(LastForwardId(), "volatile.example", {ARecord(kQuestionName, 0, {192, 0, 2, 30})}));
  EXPECT_EQ(sent.size(), 2u);
  EXPECT_EQ(forwarder.cache().size(), 0u);

  FromClient(Query(6, "missing.example"));
  std::string failure = Response(LastForwardId(), "missing.example", {ARecord(kQuestionName, 300, {192, 0, 2, 31})}, 3);
  FromServer(failure);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[3].bytes.substr(2), failure.substr(2));
  EXPECT_EQ(report.text(), "DNS_ANSWER, from 198.51.100.2, 'A'-missing.example = Error");
  EXPECT_EQ(forwarder.cache().size(), 0u);
}

TEST_F(Forwarder, TheHundredAndFirstDistinctQueryIsDropped) {
  FillTable();
  EXPECT_EQ(sent.size(), 100u);
  ASSERT_EQ(FromClient(Query(100, "q100.example")), 0);
  EXPECT_EQ(sent.size(), 100u);
  EXPECT_EQ(report.text(), "DNS_QUEST, from 10.0.0.5, 'A'-q100.example, dropped: too many queries waiting");
  // 31 s later the idle clean-up has given them up and there is room.
  now += 31 * kSecond;
  forwarder.Idle(settings, now);
  EXPECT_EQ(forwarder.pending().size(), 0u);
  FromClient(Query(100, "q100.example"));
  EXPECT_EQ(sent.size(), 101u);
}

TEST_F(Forwarder, UnderSteadyTrafficTheCleanUpStillRunsEveryTwoSeconds) {
  FillTable();
  // A datagram every half second, never a quiet wait: the clean-ups run at
  // 2, 4, ... 32 s, and the one at 32 s is the first to find the queries
  // 31 s old.
  forwarder.AfterWait(false, settings, now);
  for (int step = 1; step <= 64; ++step) {
    now += kSecond / 2;
    forwarder.AfterWait(false, settings, now);
    if (step == 63) {
      EXPECT_EQ(forwarder.pending().size(), 100u) << "31.5 s, but no clean-up since 30 s";
    }
  }
  EXPECT_EQ(forwarder.pending().size(), 0u);

  FromClient(Query(2, "again.example"));
  now += 30 * kSecond + kSecond / 2;
  forwarder.AfterWait(true, settings, now);
  EXPECT_EQ(forwarder.pending().size(), 1u) << "30.5 s old";
  now += kSecond;
  EXPECT_FALSE(forwarder.AfterWait(false, settings, now));
  EXPECT_EQ(forwarder.pending().size(), 1u) << "one second after the last clean-up";
  EXPECT_TRUE(forwarder.AfterWait(true, settings, now));
  EXPECT_EQ(forwarder.pending().size(), 0u) << "a quiet wait cleans up at once";
}

TEST_F(Forwarder, IdleExpiresRecordsAndEmptiesTheCacheWhileItIsOff) {
  FromClient(Query(1, "a.example"));
  FromServer(Response(LastForwardId(), "a.example",
                      {ARecord(kQuestionName, 10, {192, 0, 2, 1}), ARecord(kQuestionName, 100, {192, 0, 2, 2})}));
  ASSERT_EQ(forwarder.cache().size(), 2u);
  now += 10 * kSecond;
  forwarder.Idle(settings, now);
  EXPECT_EQ(forwarder.cache().size(), 1u);

  settings.EnableCachDns = false;
  sent.clear();
  FromClient(Query(2, "a.example"));
  EXPECT_EQ(sent.at(0).to, Address("198.51.100.2")) << "the cache is not used while off";
  forwarder.Idle(settings, now);
  EXPECT_EQ(forwarder.cache().size(), 0u);
  EXPECT_EQ(forwarder.cache().usedBytes(), 0u);
  // Answers coming in while it is off are not stored.
  FromServer(Response(LastForwardId(), "a.example", {ARecord(kQuestionName, 100, {192, 0, 2, 2})}));
  EXPECT_EQ(forwarder.cache().size(), 0u);
  settings.EnableCachDns = true;
  FromClient(Query(3, "a.example"));
  FromServer(Response(LastForwardId(), "a.example", {ARecord(kQuestionName, 100, {192, 0, 2, 2})}));
  EXPECT_EQ(forwarder.cache().size(), 1u);
}

TEST_F(Forwarder, ASendThatFailsLosesThatDatagramAloneAndIsReported) {
  sendWorks = false;
  EXPECT_EQ(FromClient(Query(3, "a.example")), kDnsForwardSendFailure);
  sendWorks = true;
  // The client's repetition finds its entry and goes to the next server.
  EXPECT_EQ(FromClient(Query(3, "a.example")), 0);
  EXPECT_EQ(sent.back().to, Address("198.51.100.3"));
  FromClient(Query(4, "b.example"));
  std::uint16_t id = LastForwardId();
  sendWorks = false;
  EXPECT_EQ(FromServer(Response(id, "b.example", {ARecord(kQuestionName, 100, {192, 0, 2, 2})})),
            kDnsAnswerSendFailure);
  EXPECT_EQ(forwarder.cache().size(), 0u);
  EXPECT_EQ(forwarder.pending().size(), 1u) << "the answered entry is gone, the other waits";
  sendWorks = true;
  // No reply reaches port 0; the next client is served all the same.
  EXPECT_EQ(Arrive(Query(5, "wpad"), client, 0), kDnsAnswerSendFailure);
  sent.clear();
  EXPECT_EQ(FromClient(Query(6, "wpad")), 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, client);
  EXPECT_EQ(sent[0].port, clientPort);
  EXPECT_STREQ(StrC(kDnsForwardSendFailure), "Ошибка передачи DNS forward!");
  EXPECT_STREQ(StrC(kDnsAnswerSendFailure), "Ошибка передачи DNS answer!");
}

TEST_F(Forwarder, WithoutAnUpstreamServerQueriesAreAnsweredServfailAtOnce) {
  forwarder.SetInterfaceAddresses({local});
  for (const char* list : {"", "not-an-address", "127.0.0.1; 0.0.0.0; 10.0.0.1", " ; 127.0.0.53"}) {
    settings.DnsServer = list;
    sent.clear();
    std::string query = Query(0x3131, "www.example.com", kDnsTypeMx);
    ASSERT_EQ(FromClient(query), 0);
    ASSERT_EQ(sent.size(), 1u) << list;
    EXPECT_EQ(sent[0].to, client);
    EXPECT_EQ(sent[0].port, clientPort);
    DnsHeader header;
    ASSERT_TRUE(ReadDnsHeader(sent[0].bytes, header));
    EXPECT_EQ(header.id, 0x3131);
    EXPECT_EQ(header.flags, kDnsFlagQr | 0x0100 | kDnsFlagRa | kDnsRcodeServerFailure) << list;
    EXPECT_EQ(header.questionCount, 1);
    EXPECT_EQ(header.answerCount, 0);
    EXPECT_EQ(sent[0].bytes.substr(6), Word(0) + Word(0) + Word(0) + query.substr(12)) << "the question copied";
    EXPECT_EQ(forwarder.pending().size(), 0u);
    EXPECT_EQ(report.text(), "DNS_QUEST, from 10.0.0.5, 'MX'-www.example.com, answered SERVFAIL: no upstream server");
  }
}

TEST_F(Forwarder, TheGatewaysOwnAddressesAreSkippedAmongTheServers) {
  forwarder.SetInterfaceAddresses({Address("10.0.0.1"), Address("192.168.5.1")});
  settings.DnsServer = "127.0.0.1; 10.0.0.1; 198.51.100.3; 0.0.0.0; 192.168.5.1; 198.51.100.2";
  std::vector<Ipv4> servers;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(FromClient(Query(9, "slow.example")), 0);
    servers.push_back(sent.back().to);
  }
  EXPECT_EQ(servers, (std::vector<Ipv4>{Address("198.51.100.3"), Address("198.51.100.2"), Address("198.51.100.3")}));
}

TEST_F(Forwarder, OnlyQueriesFromAddressesThatUsersAddrsAndInInterfaceAdmitAreServed) {
  settings.UsersAddrs = {"10.0.0.0/24"};
  ASSERT_EQ(FromClient(Query(1, "www.example.com")), 0);
  EXPECT_FALSE(refused);
  ASSERT_EQ(sent.size(), 1u);
  std::uint16_t forwardId = LastForwardId();
  // From outside: not even what the gateway knows itself, nor a SERVFAIL,
  // nor an undecodable question goes back; the report line stays empty (the
  // refusal has a line of its own).
  std::string txt = Query(2, "big.example", 16);
  std::string cutOff = Query(3, "www.example.com").substr(0, 20);
  for (const std::string& query : {Query(2, "www.example.com"), Query(3, "wpad"), txt, cutOff}) {
    EXPECT_EQ(Arrive(query, Address("203.0.113.7")), 0);
    EXPECT_TRUE(refused);
    EXPECT_EQ(report.text(), "");
  }
  settings.DnsServer = "";
  Arrive(Query(4, "other.example"), Address("10.0.1.5"));
  EXPECT_TRUE(refused);
  settings.DnsServer = "198.51.100.2";
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(forwarder.pending().size(), 1u);
  // The upstream server's answer is taken, though UsersAddrs does not name it.
  FromServer(Response(forwardId, "www.example.com", {ARecord(kQuestionName, 300, {192, 0, 2, 1})}));
  EXPECT_FALSE(refused);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].to, client);

  // InInterface: the query must have come to an admitted address of the
  // gateway; one that came nobody knows where is not admitted.
  settings.UsersAddrs.clear();
  settings.InInterface = {"10.0.0.1"};
  FromClient(Query(5, "wpad"));
  EXPECT_FALSE(refused);
  EXPECT_EQ(sent.size(), 3u);
  for (Ipv4 arrivedAt : {Address("192.168.5.1"), kNoAddress}) {
    local = arrivedAt;
    FromClient(Query(6, "wpad"));
    EXPECT_TRUE(refused);
    EXPECT_EQ(sent.size(), 3u);
  }
}

TEST_F(Forwarder, OneClientFloodingUnansweredQueriesLeavesRoomForTheOthers) {
  for (std::uint16_t i = 0; i < 200; ++i)
    ASSERT_EQ(
        Arrive(Query(i, "q" + std::to_string(i) + ".silent.example"), client, static_cast<std::uint16_t>(40000 + i)),
        0);
  EXPECT_EQ(sent.size(), DnsPendingTable::kClientShare);
  EXPECT_EQ(report.text(),
            "DNS_QUEST, from 10.0.0.5, 'A'-q199.silent.example, dropped: too many queries of this client waiting");
  sent.clear();
  const Ipv4 other = Address("10.0.0.6");
  ASSERT_EQ(Arrive(Query(7, "www.example.com"), other), 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, Address("198.51.100.2"));
  FromServer(Response(LastForwardId(), "www.example.com", {ARecord(kQuestionName, 300, {192, 0, 2, 1})}));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].to, other);
}

TEST_F(Forwarder, UndecodableDatagramsAreDroppedSilently) {
  std::string loop = Header(1, 0x0100, 1, 0) + std::string("\xC0\x0C\0\1\0\1", 6);
  for (const std::string& bytes : {std::string("\1\2\3"), loop, Query(1, "a.example").substr(0, 20)}) {
    ASSERT_EQ(FromClient(bytes), 0);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(report.text(), "");
  }
}

TEST_F(Forwarder, OnlyStandardSingleAddressOrPointerQueriesAreAnsweredLocally) {
  FromClient(Query(1, "a.example"));
  FromServer(Response(LastForwardId(), "a.example", {ARecord(kQuestionName, 100, {192, 0, 2, 2})}));
  sent.clear();
  std::string mx = Query(2, "a.example", kDnsTypeMx);
  std::string inverse = Query(3, "a.example");
  inverse[2] |= 0x08;  // opcode 1
  std::string chaos = Header(4, 0x0100, 1, 0) + Labels("a.example") + Word(1) + Word(3);
  for (const std::string& query : {mx, inverse, chaos}) {
    sent.clear();
    FromClient(query);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].to, Address("198.51.100.2"));
  }
  EXPECT_EQ(report.text(), "DNS_QUEST, from 10.0.0.5, 'A'-a.example, forvard to 198.51.100.2");
}

TEST_F(Forwarder, ReportedNamesAreEscapedAndTheLineBounded) {
  settings.DnsServer = "198.51.100.2";
  std::string hostile =
      Header(1, 0x0100, 1, 0) + std::string(1, 9) + "a,b\r\nFAKE" + std::string(1, 0) + Word(1) + Word(1);
  FromClient(hostile);
  EXPECT_EQ(report.text(), "DNS_QUEST, from 10.0.0.5, 'A'-a%2Cb%0D%0AFAKE, forvard to 198.51.100.2");
  std::string label(60, 'x');
  FromClient(Query(2, label + "." + label + "." + label + ".example"));
  EXPECT_EQ(report.text(), "DNS_QUEST, from 10.0.0.5, 'A'-, forvard to 198.51.100.2")
      << "a name that does not fit is left out, the rest still comes";
}

class ForwarderWithHosts : public Forwarder {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex-hosts-XXXXXX";
    int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    settings.HostsFileName = pattern;
    std::ofstream(settings.HostsFileName) << "# office\n192.168.0.10 fileserver\n";
    settings.EnableHostsDns = true;
    settings.DomainSuffix = "office";
  }
  void TearDown() override { ::unlink(settings.HostsFileName.c_str()); }
};

TEST_F(ForwarderWithHosts, LocalAnswersKeepTheQuerysFlagsButClaimNoValidation) {
  std::string query = Query(7, "fileserver");
  query[2] = static_cast<char>(query[2] | 0x02 | 0x04);  // TC and AA, as no client should
  query[3] = static_cast<char>(0x40 | kDnsFlagAd | kDnsFlagCd);
  FromClient(query);
  ASSERT_EQ(sent.size(), 1u);
  Answer answer = Decode(sent[0].bytes);
  EXPECT_EQ(answer.flags, kDnsFlagQr | 0x0100 | kDnsFlagAa | kDnsFlagRa | 0x40 | kDnsFlagCd);
}

TEST_F(ForwarderWithHosts, HostsAnswersHaveTtlZeroAndAaForTheShortAndLongNameAndTheReverseName) {
  for (const char* name : {"fileserver", "fileserver.office"}) {
    sent.clear();
    ASSERT_EQ(FromClient(Query(7, name)), 0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].to, client);
    Answer answer = Decode(sent[0].bytes);
    EXPECT_EQ(answer.flags & kDnsFlagAa, kDnsFlagAa);
    ASSERT_EQ(answer.records.size(), 1u);
    EXPECT_EQ(answer.records[0].ttl, 0u);
    EXPECT_EQ(Octets(answer.records[0].data), "192.168.0.10");
    EXPECT_EQ(report.text(),
              "DNS_QUEST, from 10.0.0.5, 'A'-" + std::string(name) + ", answer from HOSTS: 192.168.0.10");
  }
  sent.clear();
  FromClient(Query(8, "10.0.168.192.in-addr.arpa", kDnsTypePtr));
  ASSERT_EQ(sent.size(), 1u);
  Answer answer = Decode(sent[0].bytes);
  ASSERT_EQ(answer.records.size(), 1u);
  std::string name;
  std::size_t at = answer.records[0].dataAt;
  ASSERT_TRUE(DecodeDnsName(sent[0].bytes, at, name));
  EXPECT_EQ(name, "fileserver.office");
  EXPECT_EQ(answer.records[0].ttl, 0u);
  // Off, the file is not asked.
  settings.EnableHostsDns = false;
  sent.clear();
  FromClient(Query(9, "fileserver"));
  EXPECT_EQ(sent.at(0).to, Address("198.51.100.2"));
}

TEST_F(ForwarderWithHosts, WithoutAnUpstreamServerTheHostsFileAndTheCacheStillAnswer) {
  FromClient(Query(1, "www.example.com"));
  FromServer(Response(LastForwardId(), "www.example.com", {ARecord(kQuestionName, 300, {192, 0, 2, 1})}));
  settings.DnsServer = "";
  for (const char* name : {"fileserver", "www.example.com", "elsewhere.example"}) {
    sent.clear();
    ASSERT_EQ(FromClient(Query(7, name)), 0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].to, client);
    Answer answer = Decode(sent[0].bytes);
    EXPECT_EQ(answer.flags & 0x0F, name[0] == 'e' ? kDnsRcodeServerFailure : 0) << name;
    EXPECT_EQ(answer.records.size(), name[0] == 'e' ? 0u : 1u) << name;
  }
}

TEST_F(Forwarder, WpadIsAnsweredWithTheAddressTheClientReachedWhileTheWebServerIsOn) {
  settings.DomainSuffix = "office";
  for (const char* name : {"wpad", "WPAD.office"}) {
    sent.clear();
    FromClient(Query(3, name));
    ASSERT_EQ(sent.size(), 1u) << name;
    EXPECT_EQ(sent[0].to, client);
    Answer answer = Decode(sent[0].bytes);
    EXPECT_EQ(answer.flags & kDnsFlagAa, kDnsFlagAa);
    ASSERT_EQ(answer.records.size(), 1u);
    EXPECT_EQ(Octets(answer.records[0].data), "10.0.0.1");
  }
  local = Address("192.168.5.1");
  sent.clear();
  FromClient(Query(4, "wpad"));
  EXPECT_EQ(Octets(Decode(sent.at(0).bytes).records.at(0).data), "192.168.5.1");
  // Another suffix, the switch off, or the HTTP proxy off: forwarded.
  for (int i = 0; i < 3; ++i) {
    SystemSettings saved = settings;
    std::string name = "wpad";
    if (i == 0) name = "wpad.elsewhere";
    if (i == 1) settings.EnableWpadDns = false;
    if (i == 2) settings.EnableHTTP = false;
    sent.clear();
    FromClient(Query(static_cast<std::uint16_t>(10 + i), name));
    EXPECT_EQ(sent.at(0).to, Address("198.51.100.2")) << i;
    settings = saved;
  }
}

TEST(DnsLocalReply, AnswersThatDoNotFitInto512BytesAreLeftOut) {
  std::string query = Query(0x7777, "many.example");
  DnsHeader header;
  DnsQuestion question;
  ASSERT_TRUE(ReadDnsHeader(query, header));
  ASSERT_TRUE(ReadDnsQuestions(query, header, question));
  std::vector<LocalAnswer> answers(100, LocalAnswer{0x01020304, "", 60});
  std::string reply = BuildLocalReply(query, question, answers, false);
  EXPECT_LE(reply.size(), kDnsDatagramMax);
  std::size_t fit = (kDnsDatagramMax - query.size()) / 16;
  Answer decoded = Decode(reply);
  EXPECT_EQ(decoded.records.size(), fit);
  EXPECT_EQ(reply.size(), query.size() + fit * 16);
  // Pointer answers with names that cannot be encoded are left out too.
  std::string ptrQuery = Query(1, "4.3.2.1.in-addr.arpa", kDnsTypePtr);
  ASSERT_TRUE(ReadDnsHeader(ptrQuery, header));
  ASSERT_TRUE(ReadDnsQuestions(ptrQuery, header, question));
  std::vector<LocalAnswer> names{{0, std::string(70, 'x'), 0}, {0, "ok.example", 0}};
  std::string ptrReply = BuildLocalReply(ptrQuery, question, names, true);
  decoded = Decode(ptrReply);
  ASSERT_EQ(decoded.records.size(), 1u);
  EXPECT_EQ(decoded.records[0].data, Labels("ok.example"));
}

TEST(DnsLocalReply, TheReportLineKeepsTo200CharactersAndNothingWhileNotShown) {
  DnsReportLine line;
  line.Add(std::string(150, 'a'));
  line.Add(std::string(60, 'b'));
  line.Add(std::string(50, 'c'));
  line.Add("d");
  EXPECT_EQ(line.text(), std::string(150, 'a') + std::string(50, 'c'));
  line.Clear();
  line.SetShown(false);
  line.Add("x");
  EXPECT_EQ(line.text(), "");
}

}  // namespace
}  // namespace brindlex
