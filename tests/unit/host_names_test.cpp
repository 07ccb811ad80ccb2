#include "core/host_names.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brindlex {
namespace {

TEST(HostPort, HostNameCharactersAndThePortIsDigitsAloneWithinTheRange) {
  struct Case {
    const char* text;
    bool valid;
    const char* name;
    int port;
  };
  const Case cases[] = {
      {"example.lan", true, "example.lan", 0},
      {"example.lan:8080", true, "example.lan", 8080},
      {"example.lan:", true, "example.lan", 0},
      {"10.1.2.3:1", true, "10.1.2.3", 1},
      {"h:65535", true, "h", 65535},
      {"h:0080", true, "h", 80},
      {"127.0.0.1:24803.lan", false, "", 0},
      {"h:0", false, "", 0},
      {"h:000", false, "", 0},
      {"h:65536", false, "", 0},
      {"h:4294967377", false, "", 0},  // 2^32 + 81 must not wrap to 81
      {"h:-1", false, "", 0},
      {"h: 80", false, "", 0},
      {"h:80 ", false, "", 0},
      {"h:8o", false, "", 0},
      {"[::1]:80", false, "", 0},
      {"My_Host-2.example:8080", true, "My_Host-2.example", 8080},
      {":80", false, "", 0},
      {"", false, "", 0},
      {"a,b", false, "", 0},
      {"a b", false, "", 0},
      {"a%41", false, "", 0},
      {"a\x01b", false, "", 0},
      {"a/b", false, "", 0},
      {"a\xd0\xb1", false, "", 0},
  };
  for (const Case& c : cases) {
    HostPort out;
    ASSERT_EQ(SplitHostPort(c.text, out), c.valid) << c.text;
    if (!c.valid) continue;
    EXPECT_EQ(out.name, c.name) << c.text;
    EXPECT_EQ(out.port, c.port) << c.text;
  }
}

TEST(HostPort, AddressHostsIncludeEveryFormTheResolverReadsAsANumber) {
  for (const char* host : {"10.1.2.3", "127.1", "2130706433", "0x7f.1", "0X7F000001", "017700000001", "1.2.3.4.5"})
    EXPECT_TRUE(IsAddressHost(host)) << host;
  for (const char* host : {"", "example.lan", "10.1.2.3.evil.example", "x10.1.2.3", "localhost", "0x7g.1"})
    EXPECT_FALSE(IsAddressHost(host)) << host;
}

TEST(HostPort, AddressPatternsAreDigitsDotsAndWildcardsWithADigit) {
  for (const char* pattern : {"10.1.2.*", "127.0.0.1", "*.1", "10.*", "10.1.2.?"})
    EXPECT_TRUE(IsAddressPattern(pattern)) << pattern;
  for (const char* pattern : {"*", "*.*", "?", "*.lan", "host1", "", "10.1.2.* "})
    EXPECT_FALSE(IsAddressPattern(pattern)) << pattern;
}

TEST(HostPort, AddressPatternsMatchOnlyAddresses) {
  const std::vector<std::string> patterns = {"*.lan", "10.1.2.*", "*"};
  Ipv4 inside = 0, outside = 0;
  ASSERT_TRUE(ParseDottedQuad("10.1.2.3", inside));
  ASSERT_TRUE(ParseDottedQuad("10.1.3.3", outside));
  EXPECT_TRUE(AddressPatternsMatch(patterns, inside));
  EXPECT_FALSE(AddressPatternsMatch(patterns, outside)) << "neither '*' nor a name pattern speaks of addresses";
  EXPECT_FALSE(AddressPatternsMatch(patterns, kNoAddress));
  EXPECT_FALSE(AddressPatternsMatch({}, inside));
}

TEST(HostPort, NamePatternsMatchOnlyNames) {
  const std::vector<std::string> patterns = {"*.lan", "10.1.2.*", "Intra?"};
  EXPECT_TRUE(NamePatternsMatch(patterns, "files.LAN"));
  EXPECT_TRUE(NamePatternsMatch(patterns, "intra1"));
  EXPECT_FALSE(NamePatternsMatch(patterns, "10.1.2.3.evil.example")) << "an address pattern is not a name pattern";
  EXPECT_FALSE(NamePatternsMatch(patterns, "10.1.2.3"));
  EXPECT_FALSE(NamePatternsMatch({"*"}, "127.0.0.1")) << "a name pattern never takes an address";
  EXPECT_FALSE(NamePatternsMatch({"*"}, "0x7f.1"));
  EXPECT_TRUE(NamePatternsMatch({"*"}, "example.com"));
  EXPECT_FALSE(NamePatternsMatch(patterns, ""));
}

}  // namespace
}  // namespace brindlex
