#include "mail/mail_rules.h"

#include <gtest/gtest.h>
#include <string>

#include "core/ini_file.h"

namespace brindlex {
namespace {

MailDomainRule Rule(const std::string& domain, const std::string& smtp, int smtpPort, const std::string& pop,
                    int popPort, bool disabled = false) {
  MailDomainRule rule;
  rule.domain = domain;
  rule.smtpServer = smtp;
  rule.smtpPort = static_cast<std::uint16_t>(smtpPort);
  rule.popServer = pop;
  rule.popPort = static_cast<std::uint16_t>(popPort);
  rule.disabled = disabled;
  return rule;
}

TEST(MailRules, TheValueIsEachFieldFollowedByItsSeparator) {
  EXPECT_EQ(FormatMailRuleValue(Rule("a.lan", "smtp.a.lan", 25, "pop.a.lan", 110)),
            "smtp.a.lan; 25; pop.a.lan; 110; 0;");
  EXPECT_EQ(FormatMailRuleValue(Rule("b.lan", "10.0.0.1:2525", 587, "10.0.0.2", 995, true)),
            "10.0.0.1:2525; 587; 10.0.0.2; 995; 1;");
}

TEST(MailRules, ReadingSkipsBlanksAndTakesAnyNonZeroAsDisabled) {
  MailDomainRule rule = ParseMailRule("a.lan", "  smtp.a.lan;587;\tpop.a.lan ;  995; 7;");
  EXPECT_EQ(rule.domain, "a.lan");
  EXPECT_EQ(rule.smtpServer, "smtp.a.lan");
  EXPECT_EQ(rule.smtpPort, 587);
  EXPECT_EQ(rule.popServer, "pop.a.lan ");
  EXPECT_EQ(rule.popPort, 995);
  EXPECT_TRUE(rule.disabled);
  rule = ParseMailRule("b", "s; x25; p; 70000; 0");
  EXPECT_EQ(rule.smtpPort, 0) << "not a number";
  EXPECT_EQ(rule.popPort, 0) << "no port";
  EXPECT_FALSE(rule.disabled);
  rule = ParseMailRule("c", "only");
  EXPECT_EQ(rule.smtpServer, "only");
  EXPECT_EQ(rule.popServer, "");
  EXPECT_EQ(rule.smtpPort, 0);
  rule = ParseMailRule("d", std::string(2000, 's') + "; 25;");
  EXPECT_EQ(rule.smtpServer.size(), kMailServerMax);
}

TEST(MailRules, TheSectionReadsAndWritesBackByteForByte) {
  const std::string text =
      "[System]\r\nEnablePost=1\r\n\r\n[PostRelays]\r\nexample.lan=smtp.example.lan; 25; pop.example.lan; 110; 0;\r\n"
      "other.lan=127.0.0.1:2525; 25; 127.0.0.1; 1110; 1;\r\n\r\n[Users]\r\nx=y\r\n";
  IniDocument document = ParseIni(text);
  MailRuleList rules = ReadMailRules(document);
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[0].domain, "example.lan");
  EXPECT_EQ(rules[1].smtpServer, "127.0.0.1:2525");
  EXPECT_EQ(rules[1].popPort, 1110);
  EXPECT_TRUE(rules[1].disabled);
  ASSERT_TRUE(WriteMailRules(document, rules));
  EXPECT_EQ(FormatIni(document), text);
}

TEST(MailRules, WritingReplacesTheSectionWholeInPlace) {
  IniDocument document =
      ParseIni("[PostRelays]\r\nold.lan=a; 25; b; 110; 0;\r\ngone.lan=c; 25; d; 110; 0;\r\n\r\n[Users]\r\nx=y\r\n");
  ASSERT_TRUE(WriteMailRules(document, {Rule("new.lan", "s", 2525, "p", 1110)}));
  EXPECT_EQ(FormatIni(document), "[PostRelays]\r\nnew.lan=s; 2525; p; 1110; 0;\r\n\r\n[Users]\r\nx=y\r\n");
  ASSERT_TRUE(WriteMailRules(document, {}));
  EXPECT_TRUE(ReadMailRules(document).empty());
  IniDocument fresh = ParseIni("[System]\r\nEnablePost=1\r\n");
  ASSERT_TRUE(WriteMailRules(fresh, {Rule("a.lan", "s", 25, "p", 110)}));
  EXPECT_EQ(FormatIni(fresh), "[System]\r\nEnablePost=1\r\n\r\n[PostRelays]\r\na.lan=s; 25; p; 110; 0;\r\n");
  const std::string before = FormatIni(fresh);
  EXPECT_FALSE(WriteMailRules(fresh, {Rule("a=b", "s", 25, "p", 110)})) << "a key that cannot be stored";
  EXPECT_EQ(FormatIni(fresh), before) << "nothing changed";
}

TEST(MailRules, TheFirstEnabledRuleOfTheExactDomainChoosesTheServer) {
  MailRuleList rules = {Rule("example.lan", "off.example.lan", 26, "offpop", 111, true),
                        Rule("example.lan", "smtp.example.lan", 2525, "pop.example.lan", 1110),
                        Rule("example.lan", "late", 1, "late", 1)};
  MailServerChoice smtp = ChooseMailServer(rules, "bob@example.lan", MailProtocol::kSmtp);
  EXPECT_EQ(smtp.server, "smtp.example.lan");
  EXPECT_EQ(smtp.port, 2525);
  EXPECT_TRUE(smtp.byRule);
  MailServerChoice pop = ChooseMailServer(rules, "bob@example.lan", MailProtocol::kPop3);
  EXPECT_EQ(pop.server, "pop.example.lan");
  EXPECT_EQ(pop.port, 1110);
}

TEST(MailRules, WithoutARuleTheDomainItselfIsTheServer) {
  MailRuleList rules = {Rule("example.lan", "smtp.example.lan", 2525, "pop.example.lan", 1110)};
  MailServerChoice other = ChooseMailServer(rules, "bob@Example.lan", MailProtocol::kSmtp);
  EXPECT_EQ(other.server, "Example.lan") << "letter case counts";
  EXPECT_EQ(other.port, 25);
  EXPECT_FALSE(other.byRule);
  EXPECT_EQ(ChooseMailServer(rules, "bob@other.lan", MailProtocol::kPop3).port, 110);
  EXPECT_EQ(ChooseMailServer(rules, "example.lan", MailProtocol::kSmtp).server, "smtp.example.lan")
      << "a login without '@' is the domain";
  EXPECT_EQ(ChooseMailServer(rules, "a@b@example.lan", MailProtocol::kSmtp).server, "b@example.lan")
      << "the text after the first '@'";
  EXPECT_EQ(ChooseMailServer(rules, "", MailProtocol::kSmtp).server, "");
}

TEST(MailRules, PublishedRulesStayWithTheirReaders) {
  PublishMailRules({Rule("a.lan", "s", 25, "p", 110)});
  auto held = MailRules();
  LoadMailRules(ParseIni("[PostRelays]\r\nb.lan=t; 26; q; 111; 0;\r\n"));
  ASSERT_EQ(held->size(), 1u);
  EXPECT_EQ((*held)[0].domain, "a.lan");
  ASSERT_EQ(MailRules()->size(), 1u);
  EXPECT_EQ((*MailRules())[0].domain, "b.lan");
  PublishMailRules({});
}

}  // namespace
}  // namespace brindlex
