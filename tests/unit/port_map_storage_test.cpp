// The rules in the settings file: the value's exact form, the reading of
// short, blank-led and garbled values, and the section written whole.
#include "portmap/port_map_storage.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "core/file_io.h"
#include "core/ini_file.h"

namespace brindlex {
namespace {

PortMapRule SampleRule() {
  PortMapRule rule;
  rule.name = "Web";
  rule.protocol = kPortMapUdp;
  rule.sourceKind = kSourceRange;
  rule.sourceFrom = 0xC0A80001;  // 192.168.0.1
  rule.sourceTo = 0xC0A800FE;
  rule.listenAddress = 0x0A000001;
  rule.listenPort = 8080;
  rule.destHost = "example.lan:81";
  rule.destPort = 80;
  rule.authByClient = true;
  rule.login = "bob";
  rule.disabled = true;
  return rule;
}

void ExpectSameStoredFields(const PortMapRule& a, const PortMapRule& b) {
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.protocol, b.protocol);
  EXPECT_EQ(a.sourceKind, b.sourceKind);
  EXPECT_EQ(a.sourceFrom, b.sourceFrom);
  EXPECT_EQ(a.sourceTo, b.sourceTo);
  EXPECT_EQ(a.listenAddress, b.listenAddress);
  EXPECT_EQ(a.listenPort, b.listenPort);
  EXPECT_EQ(a.destHost, b.destHost);
  EXPECT_EQ(a.destPort, b.destPort);
  EXPECT_EQ(a.authByClient, b.authByClient);
  EXPECT_EQ(a.login, b.login);
  EXPECT_EQ(a.disabled, b.disabled);
}

TEST(PortMapStorage, TheValueListsTheFieldsInTheirOrderEachFollowedBySemicolonAndBlankButTheLast) {
  EXPECT_EQ(FormatRuleValue(SampleRule()),
            "2; 192.168.0.1; 192.168.0.254; 10.0.0.1; 8080; example.lan:81; 80; 1; bob; 1; 1;");
  PortMapRule empty;
  empty.name = "x";
  EXPECT_EQ(FormatRuleValue(empty), "0; 0.0.0.0; 0.0.0.0; 0.0.0.0; 0; ; 0; 0; ; 0; 0;");
}

TEST(PortMapStorage, AWrittenValueReadsBackAsTheSameRule) {
  PortMapRule rule = SampleRule();
  ExpectSameStoredFields(ParseRuleValue("Web", FormatRuleValue(rule)), rule);
}

TEST(PortMapStorage, LeadingBlanksAreSkippedAndTrailingOnesKept) {
  PortMapRule rule = ParseRuleValue("r", "1;10.0.0.1;   10.0.0.2;0.0.0.0;  25;   mail.lan  ;25;0;  alice ;0;0;");
  EXPECT_EQ(rule.sourceKind, 1);
  EXPECT_EQ(rule.sourceFrom, 0x0A000001u);
  EXPECT_EQ(rule.sourceTo, 0x0A000002u);
  EXPECT_EQ(rule.listenPort, 25);
  EXPECT_EQ(rule.destHost, "mail.lan  ");
  EXPECT_EQ(rule.login, "alice ");
}

TEST(PortMapStorage, AShortValueGivesZeroNumbersAndEmptyTexts) {
  PortMapRule rule = ParseRuleValue("short", "2; 10.0.0.1; 10.0.0.9; 0.0.0.0; 5353; dns.lan");
  EXPECT_EQ(rule.sourceKind, kSourceRange);
  EXPECT_EQ(rule.sourceTo, 0x0A000009u);
  EXPECT_EQ(rule.listenPort, 5353);
  EXPECT_EQ(rule.destHost, "dns.lan");
  EXPECT_EQ(rule.destPort, 0);
  EXPECT_FALSE(rule.authByClient);
  EXPECT_EQ(rule.login, "");
  EXPECT_EQ(rule.protocol, kPortMapTcp);
  EXPECT_FALSE(rule.disabled);
}

TEST(PortMapStorage, NonNumbersAreZeroBadAddressesNoneAndAnyNonZeroNumberDisables) {
  PortMapRule rule = ParseRuleValue("odd", "x; 300.1.1.1; ten; 1.2.3; port; h; p; 7; l; u; 42;");
  EXPECT_EQ(rule.sourceKind, 0);
  EXPECT_EQ(rule.sourceFrom, 0u);
  EXPECT_EQ(rule.sourceTo, 0u);
  EXPECT_EQ(rule.listenAddress, 0u);
  EXPECT_EQ(rule.listenPort, 0);
  EXPECT_EQ(rule.destPort, 0);
  EXPECT_TRUE(rule.authByClient);
  EXPECT_EQ(rule.protocol, 0);
  EXPECT_TRUE(rule.disabled);
  EXPECT_FALSE(ParseRuleValue("off", "0; 0.0.0.0; 0.0.0.0; 0.0.0.0; 1; h; 1; 0; ; 1; 0;").disabled);
}

TEST(PortMapStorage, TextsAreCutToTheirLimit) {
  std::string longHost(kPortMapTextMax + 100, 'h');
  PortMapRule rule = ParseRuleValue(std::string(kPortMapTextMax + 1, 'n'),
                                    "0; 0.0.0.0; 0.0.0.0; 0.0.0.0; 1; " + longHost + "; 1; 0; " + longHost + ";");
  EXPECT_EQ(rule.name.size(), kPortMapTextMax);
  EXPECT_EQ(rule.destHost.size(), kPortMapTextMax);
  EXPECT_EQ(rule.login.size(), kPortMapTextMax);
}

TEST(PortMapStorage, TheSectionIsReadInFileOrder) {
  IniDocument document = ParseIni(
      "[System]\r\nHttpPort=3128\r\n[PortMapping]\r\nb=0; 0.0.0.0; 0.0.0.0; 0.0.0.0; 2; two; 2; 0; ; 1; 0;\r\n"
      "a=0; 0.0.0.0; 0.0.0.0; 0.0.0.0; 1; one; 1; 0; ; 0; 0;\r\n");
  std::vector<PortMapRule> rules = ReadPortMapRules(document);
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[0].name, "b");
  EXPECT_TRUE(rules[0].IsUdp());
  EXPECT_EQ(rules[1].name, "a");
  EXPECT_EQ(rules[1].destHost, "one");
}

TEST(PortMapStorage, SavingRewritesTheSectionWhereItStandsLeavingTheRestAlone) {
  std::string folder = std::filesystem::temp_directory_path() / ("portmap-storage-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::string path = folder + "/Brindlex.ini";
  WriteFileAtomically(path,
                      "[PortMapping]\r\nold=0; 0.0.0.0; 0.0.0.0; 0.0.0.0; 9; gone; 9; 0; ; 0; 0;\r\n"
                      "[System]\r\nHttpPort=3128\r\n");
  PortMapRule second = SampleRule();
  second.name = "Second";
  PortMapRule first;
  first.name = "First";
  first.listenPort = 2525;
  first.destHost = "mail.lan";
  first.destPort = 25;
  ASSERT_TRUE(SavePortMapRules(path, {second, first}));
  std::string text;
  ASSERT_TRUE(ReadFileBounded(path, 1 << 20, text));
  EXPECT_EQ(text,
            "[PortMapping]\r\n"
            "Second=2; 192.168.0.1; 192.168.0.254; 10.0.0.1; 8080; example.lan:81; 80; 1; bob; 1; 1;\r\n"
            "First=0; 0.0.0.0; 0.0.0.0; 0.0.0.0; 2525; mail.lan; 25; 0; ; 0; 0;\r\n"
            "[System]\r\nHttpPort=3128\r\n");
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace brindlex
