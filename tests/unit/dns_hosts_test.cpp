#include "dns/dns_hosts.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "dns/dns_message.h"

namespace brindlex {
namespace {

Ipv4 Address(const char* dotted) {
  Ipv4 address = kNoAddress;
  EXPECT_TRUE(ParseDottedQuad(dotted, address)) << dotted;
  return address;
}

class HostsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex-hosts-XXXXXX";
    int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    path_ = pattern;
  }
  void TearDown() override { ::unlink(path_.c_str()); }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary | std::ios::trunc) << text; }
  std::optional<HostsAnswer> LookUp(std::string_view question, std::uint16_t type, std::string_view suffix = "") {
    return LookUpHostsFile(path_, question, type, suffix);
  }
  std::string path_;
};

TEST(HostsLine, AnAddressAndTheFirstNameAfterItMakeAnEntry) {
  HostsEntry entry;
  ASSERT_TRUE(ReadHostsLine("  192.168.0.10 \t fileserver files # the NAS\r", entry));
  EXPECT_EQ(entry.address, Address("192.168.0.10"));
  EXPECT_EQ(entry.name, "fileserver");
  ASSERT_TRUE(ReadHostsLine("10.0.0.1\tgw\r", entry));
  EXPECT_EQ(entry.name, "gw");
  for (const char* line : {"", "   ", "# 10.0.0.1 commented", "\r", "0.0.0.0 blocked.example", "300.1.1.1 bad",
                           "10.0.0 short", "10.0.0.1", "10.0.0.1   \r", "fileserver 10.0.0.1", "10.0.0.1x name"})
    EXPECT_FALSE(ReadHostsLine(line, entry)) << line;
}

TEST(HostsLine, NamesMatchWithOrWithoutTheSuffixAndAddressesByTheirReverseName) {
  HostsEntry entry;
  ASSERT_TRUE(ReadHostsLine("192.168.0.10 fileserver", entry));
  for (const char* name : {"fileserver", "FileServer", "fileserver.office", "FILESERVER.Office"}) {
    auto answer = MatchHostsEntry(entry, name, kDnsTypeA, "office");
    ASSERT_TRUE(answer) << name;
    EXPECT_EQ(answer->address, Address("192.168.0.10"));
  }
  EXPECT_FALSE(MatchHostsEntry(entry, "fileserver.office", kDnsTypeA, ""));
  EXPECT_FALSE(MatchHostsEntry(entry, "fileserver.other", kDnsTypeA, "office"));
  EXPECT_FALSE(MatchHostsEntry(entry, "fileserverxoffice", kDnsTypeA, "office"));
  EXPECT_FALSE(MatchHostsEntry(entry, "fileserver", kDnsTypePtr, "office"));
  auto reverse = MatchHostsEntry(entry, "10.0.168.192.in-addr.arpa", kDnsTypePtr, "office");
  ASSERT_TRUE(reverse);
  EXPECT_EQ(reverse->name, "fileserver.office");
  reverse = MatchHostsEntry(entry, "10.0.168.192.IN-ADDR.arpa", kDnsTypePtr, "");
  ASSERT_TRUE(reverse);
  EXPECT_EQ(reverse->name, "fileserver");
  EXPECT_FALSE(MatchHostsEntry(entry, "10.0.168.192.in-addr.arpa", kDnsTypeA, "office"));
}

TEST_F(HostsFile, TheFirstMatchingLineWinsAndTheLastLineNeedsNoLineFeed) {
  Write(
      "# hosts of the office\n127.0.0.1 localhost\r\n192.168.0.10 fileserver\n192.168.0.11 fileserver\n"
      "192.168.0.12 printer");
  auto answer = LookUp("fileserver", kDnsTypeA);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->address, Address("192.168.0.10"));
  answer = LookUp("printer", kDnsTypeA);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->address, Address("192.168.0.12"));
  answer = LookUp("11.0.168.192.in-addr.arpa", kDnsTypePtr, "office");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->name, "fileserver.office");
  EXPECT_FALSE(LookUp("scanner", kDnsTypeA));
  EXPECT_FALSE(LookUpHostsFile(path_ + ".missing", "fileserver", kDnsTypeA, ""));
}

TEST_F(HostsFile, LinesAcrossTheBufferAreReadAndALineLongerThanItEndsTheLookup) {
  // Enough short lines that several straddle a buffer boundary.
  std::string text;
  for (int i = 1; i <= 2000; ++i)
    text += "10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".1 host" + std::to_string(i) + "\n";
  ASSERT_GT(text.size(), 3 * kHostsBufferSize);
  Write(text + "192.168.9.9 last\n");
  for (int i : {1, 400, 401, 402, 999, 2000}) {
    auto answer = LookUp("host" + std::to_string(i), kDnsTypeA);
    ASSERT_TRUE(answer) << i;
    EXPECT_EQ(FormatIpv4(answer->address), "10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".1");
  }
  EXPECT_TRUE(LookUp("last", kDnsTypeA));

  Write("10.0.0.1 before\n10.0.0.2 " + std::string(kHostsBufferSize, 'x') + "\n10.0.0.3 after\n");
  EXPECT_TRUE(LookUp("before", kDnsTypeA));
  EXPECT_FALSE(LookUp("after", kDnsTypeA)) << "nothing is read beyond a line that does not fit";
  // One byte less than the buffer (with its LF) still fits.
  std::string fits = "10.0.0.2 " + std::string(kHostsBufferSize - 10, 'y');
  ASSERT_EQ(fits.size() + 1, kHostsBufferSize);
  Write("10.0.0.1 before\n" + fits + "\n10.0.0.3 after\n");
  EXPECT_TRUE(LookUp("after", kDnsTypeA));
}

}  // namespace
}  // namespace brindlex
