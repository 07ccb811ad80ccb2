#include "dns/dns_message.h"

#include <gtest/gtest.h>
#include <string>

#include "tests/unit/dns_wire.h"

namespace brindlex {
namespace {

using namespace dnswire;

TEST(DnsMessage, HeaderFieldsAreReadBigEndianWithTheirFlags) {
  DnsHeader header;
  EXPECT_FALSE(ReadDnsHeader(std::string(11, '\0'), header));
  ASSERT_TRUE(ReadDnsHeader(Header(0x1234, 0x8583, 2, 3), header));
  EXPECT_EQ(header.id, 0x1234);
  EXPECT_TRUE(header.response());
  EXPECT_EQ(header.opcode(), 0);
  EXPECT_TRUE(header.authoritative());
  EXPECT_TRUE(header.recursionAvailable());
  EXPECT_EQ(header.rcode(), 3);
  EXPECT_EQ(header.questionCount, 2);
  EXPECT_EQ(header.answerCount, 3);
  ASSERT_TRUE(ReadDnsHeader(Header(1, 0x2800, 0, 0), header));
  EXPECT_FALSE(header.response());
  EXPECT_EQ(header.opcode(), 5);
  EXPECT_FALSE(header.recursionAvailable());
}

TEST(DnsMessage, NamesAreDecodedFromLabelsAndBackwardPointers) {
  // "example.com" at 12, then "www" + pointer to it.
  std::string message = Header(1, 0, 0, 0) + Labels("example.com") + std::string("\3www\xC0\x0C", 6);
  std::size_t at = 12;
  std::string name;
  ASSERT_TRUE(DecodeDnsName(message, at, name));
  EXPECT_EQ(name, "example.com");
  EXPECT_EQ(at, 12u + 13u);
  ASSERT_TRUE(DecodeDnsName(message, at, name));
  EXPECT_EQ(name, "www.example.com");
  EXPECT_EQ(at, message.size()) << "after the pointer, not where it led";
  at = 12 + 13 + 6;
  message += '\0';
  ASSERT_TRUE(DecodeDnsName(message, at, name));
  EXPECT_EQ(name, "") << "the root";
}

TEST(DnsMessage, PointerLoopsAndForwardPointersMakeTheNameUndecodable) {
  std::string name;
  std::size_t at = 12;
  // A pointer to itself, and two pointing at each other.
  std::string self = Header(1, 0, 0, 0) + std::string("\xC0\x0C", 2);
  EXPECT_FALSE(DecodeDnsName(self, at, name));
  std::string pair = Header(1, 0, 0, 0) + std::string("\1a\xC0\x10\1b\xC0\x0C", 8);
  at = 12;
  EXPECT_FALSE(DecodeDnsName(pair, at, name));
  at = 16;
  EXPECT_FALSE(DecodeDnsName(pair, at, name));
  // Cut off: a label longer than what is left, a pointer's second byte missing.
  std::string cut = Header(1, 0, 0, 0) + std::string("\5abc", 4);
  at = 12;
  EXPECT_FALSE(DecodeDnsName(cut, at, name));
  std::string half = Header(1, 0, 0, 0) + std::string("\xC0", 1);
  at = 12;
  EXPECT_FALSE(DecodeDnsName(half, at, name));
  // The label types 0x40 and 0x80 are not labels.
  std::string odd = Header(1, 0, 0, 0) + std::string("\x41", 1) + std::string(65, 'x') + '\0';
  at = 12;
  EXPECT_FALSE(DecodeDnsName(odd, at, name));
}

TEST(DnsMessage, NamesLongerThan255CharactersAreUndecodable) {
  std::string label(63, 'a');
  // Four labels of 63 and the dots: 255 characters, accepted; one more is not.
  std::string longest = label + "." + label + "." + label + "." + label;
  ASSERT_EQ(longest.size(), 255u);
  std::string message = Header(1, 0, 0, 0) + Labels(longest);
  std::size_t at = 12;
  std::string name;
  ASSERT_TRUE(DecodeDnsName(message, at, name));
  EXPECT_EQ(name, longest);
  std::string longer = Header(1, 0, 0, 0) + Labels(longest + ".b");
  at = 12;
  EXPECT_FALSE(DecodeDnsName(longer, at, name));
  // The same length reached through pointers.
  std::string chained = Header(1, 0, 0, 0) + Labels(longest) + std::string("\1b\xC0\x0C", 4);
  at = 12 + longest.size() + 2;
  EXPECT_FALSE(DecodeDnsName(chained, at, name));
}

TEST(DnsMessage, NamesAreEncodedAsLabelsWithinTheLimits) {
  EXPECT_EQ(EncodeDnsName("www.example.com"), Labels("www.example.com"));
  EXPECT_EQ(EncodeDnsName("example.com."), Labels("example.com"));
  EXPECT_EQ(EncodeDnsName(""), std::string(1, '\0'));
  EXPECT_EQ(EncodeDnsName(std::string(63, 'x')), Labels(std::string(63, 'x')));
  EXPECT_EQ(EncodeDnsName(std::string(64, 'x')), "");
  std::string label(63, 'a');
  EXPECT_EQ(EncodeDnsName(label + "." + label + "." + label + "." + std::string(61, 'a')).size(), 255u);
  EXPECT_EQ(EncodeDnsName(label + "." + label + "." + label + "." + label), "");
}

TEST(DnsMessage, TheLastOfSeveralQuestionsIsTheOneUsed) {
  std::string message = Header(7, 0x0100, 2, 0) + Labels("first.example") + Word(1) + Word(1) +
                        Labels("second.example") + Word(12) + Word(3);
  DnsHeader header;
  ASSERT_TRUE(ReadDnsHeader(message, header));
  DnsQuestion question;
  ASSERT_TRUE(ReadDnsQuestions(message, header, question));
  EXPECT_EQ(question.name, "second.example");
  EXPECT_EQ(question.type, 12);
  EXPECT_EQ(question.qclass, 3);
  EXPECT_EQ(question.end, message.size());
  // A question whose type and class are cut off is undecodable.
  EXPECT_FALSE(ReadDnsQuestions(message.substr(0, message.size() - 1), header, question));
}

TEST(DnsMessage, RecordsAreReadWithTheirDataAndCutOffOnesRefused) {
  std::string message = Response(9, "a.example", {ARecord(kQuestionName, 300, {192, 0, 2, 1})});
  DnsHeader header;
  DnsQuestion question;
  ASSERT_TRUE(ReadDnsHeader(message, header));
  ASSERT_TRUE(ReadDnsQuestions(message, header, question));
  std::size_t at = question.end;
  DnsRecord record;
  ASSERT_TRUE(ReadDnsRecord(message, at, record));
  EXPECT_EQ(record.owner, "a.example");
  EXPECT_EQ(record.type, kDnsTypeA);
  EXPECT_EQ(record.rclass, kDnsClassIn);
  EXPECT_EQ(record.ttl, 300u);
  EXPECT_EQ(record.data, std::string("\xC0\x00\x02\x01", 4));
  EXPECT_EQ(at, message.size());
  at = question.end;
  EXPECT_FALSE(ReadDnsRecord(message.substr(0, message.size() - 1), at, record));
  EXPECT_EQ(at, question.end);
}

TEST(DnsMessage, TypeNamesAndReverseNames) {
  EXPECT_STREQ(DnsTypeName(1), "A");
  EXPECT_STREQ(DnsTypeName(2), "NS");
  EXPECT_STREQ(DnsTypeName(5), "CNAME");
  EXPECT_STREQ(DnsTypeName(6), "SOA");
  EXPECT_STREQ(DnsTypeName(11), "WKS");
  EXPECT_STREQ(DnsTypeName(12), "PTR");
  EXPECT_STREQ(DnsTypeName(13), "HINFO");
  EXPECT_STREQ(DnsTypeName(15), "MX");
  EXPECT_STREQ(DnsTypeName(28), "??");
  Ipv4 address = kNoAddress;
  ASSERT_TRUE(ParseDottedQuad("192.168.0.10", address));
  EXPECT_EQ(ReverseDnsName(address), "10.0.168.192.in-addr.arpa");
  EXPECT_EQ(ReverseNameAddress("10.0.168.192.in-addr.arpa"), address);
  EXPECT_EQ(ReverseNameAddress("10.0.168.192.IN-ADDR.ARPA"), address);
  for (const char* name : {"10.0.168.in-addr.arpa", "010.0.168.192.in-addr.arpa", "10.0.168.192", "x.in-addr.arpa",
                           ".in-addr.arpa", "10.0.168.192.in-addr.arpa.com", "256.0.168.192.in-addr.arpa"})
    EXPECT_EQ(ReverseNameAddress(name), kNoAddress) << name;
}

}  // namespace
}  // namespace brindlex
