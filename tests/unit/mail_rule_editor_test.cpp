#include "mail/mail_rule_editor.h"

#include <gtest/gtest.h>

#include "core/strings.h"
#include "tests/unit/account_test_env.h"

namespace brindlex {
namespace {

const std::string kFieldRequired = "Необходимо заполнить поле!";
// The first letter is a Latin C, as the dialog has always shown it.
const std::string kDuplicate = "Связь с таким именем уже существует!";

MailRuleFields Fields(const std::string& domain, const std::string& smtp = "smtp.a.lan",
                      const std::string& smtpPort = "25", const std::string& pop = "pop.a.lan",
                      const std::string& popPort = "110") {
  return {domain, smtp, smtpPort, pop, popPort};
}

TEST(MailRuleEditor, ANewRuleStartsEmptyWithTheStandardPorts) {
  MailRuleFields fields = NewMailRuleFields();
  EXPECT_EQ(fields.domain, "");
  EXPECT_EQ(fields.smtpServer, "");
  EXPECT_EQ(fields.smtpPort, "25");
  EXPECT_EQ(fields.popServer, "");
  EXPECT_EQ(fields.popPort, "110");
}

TEST(MailRuleEditor, OkLowersTheDomainAndAddsTheRule) {
  MailRuleList rules;
  MailRuleFields fields = Fields(" Example.LAN ", "smtp.example.lan", "2525", "10.0.0.2", "1110");
  MailRuleCheck check = AddMailRule(rules, fields);
  ASSERT_TRUE(check.outcome.ok) << check.outcome.message;
  EXPECT_EQ(fields.domain, "example.lan") << "written back into the field";
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].domain, "example.lan");
  EXPECT_EQ(rules[0].smtpServer, "smtp.example.lan");
  EXPECT_EQ(rules[0].smtpPort, 2525);
  EXPECT_EQ(rules[0].popServer, "10.0.0.2");
  EXPECT_EQ(rules[0].popPort, 1110);
  EXPECT_FALSE(rules[0].disabled);
}

TEST(MailRuleEditor, TheChecksNameTheFirstFieldThatFailsAndItsMessage) {
  MailRuleList rules;
  MailRuleFields first = Fields("a.lan");
  ASSERT_TRUE(AddMailRule(rules, first).outcome.ok);
  struct Case {
    MailRuleFields fields;
    MailRuleField field;
    std::string message;
  } cases[] = {
      {Fields("  ", "", "x", "", "y"), MailRuleField::kDomain, kFieldRequired},
      {Fields("A.LAN", "", "x"), MailRuleField::kDomain, kDuplicate},
      {Fields("b.lan", " ", "x"), MailRuleField::kSmtpServer, kFieldRequired},
      {Fields("b.lan", "s", "2x5", ""), MailRuleField::kSmtpPort, "\"2x5\"- некорректное число"},
      {Fields("b.lan", "s", "65536"), MailRuleField::kSmtpPort, "\"65536\"- некорректное число"},
      {Fields("b.lan", "s", "2 5", ""), MailRuleField::kSmtpPort, "\"2 5\"- некорректное число"},
      {Fields("b.lan", "s", "25", "", "x"), MailRuleField::kPopServer, kFieldRequired},
      {Fields("b.lan", "s", "25", "p", "-1"), MailRuleField::kPopPort, "\"-1\"- некорректное число"},
      {Fields("b=lan"), MailRuleField::kDomain, Str(1262)},
      {Fields("b.lan", "s;t"), MailRuleField::kSmtpServer, Str(1262)},
      {Fields("b.lan", "s", "25", "p\tq"), MailRuleField::kPopServer, Str(1262)},
  };
  for (Case& c : cases) {
    MailRuleCheck check = AddMailRule(rules, c.fields);
    EXPECT_FALSE(check.outcome.ok) << c.message;
    EXPECT_EQ(check.field, c.field) << c.message;
    EXPECT_EQ(check.outcome.message, c.message);
    bool number = c.field == MailRuleField::kSmtpPort || c.field == MailRuleField::kPopPort;
    EXPECT_EQ(check.outcome.caption, number ? "Ошибка преобразования" : "Brindlex V2.8") << c.message;
  }
  EXPECT_EQ(rules.size(), 1u) << "no refused rule was added";
}

TEST(MailRuleEditor, EditingMayKeepItsOwnDomainAndKeepsItsSwitch) {
  MailRuleList rules;
  MailRuleFields a = Fields("a.lan");
  MailRuleFields b = Fields("b.lan");
  ASSERT_TRUE(AddMailRule(rules, a).outcome.ok);
  ASSERT_TRUE(AddMailRule(rules, b).outcome.ok);
  ToggleMailRule(rules, 1);
  MailRuleFields edited = Fields("B.lan", "new.b.lan", "587");
  ASSERT_TRUE(EditMailRule(rules, 1, edited).outcome.ok);
  EXPECT_EQ(rules[1].smtpServer, "new.b.lan");
  EXPECT_EQ(rules[1].smtpPort, 587);
  EXPECT_TRUE(rules[1].disabled);
  MailRuleFields clash = Fields("A.LAN", "other");
  MailRuleCheck check = EditMailRule(rules, 1, clash);
  EXPECT_EQ(check.outcome.message, kDuplicate);
  EXPECT_EQ(rules[1].domain, "b.lan") << "unchanged";
  EXPECT_EQ(MailRuleFieldsOf(rules[1]).smtpPort, "587");
}

TEST(MailRuleEditor, OnOffFlipsAndDeleteRemoves) {
  MailRuleList rules;
  MailRuleFields a = Fields("a.lan");
  MailRuleFields b = Fields("b.lan");
  ASSERT_TRUE(AddMailRule(rules, a).outcome.ok);
  ASSERT_TRUE(AddMailRule(rules, b).outcome.ok);
  ToggleMailRule(rules, 0);
  EXPECT_TRUE(rules[0].disabled);
  ToggleMailRule(rules, 0);
  EXPECT_FALSE(rules[0].disabled);
  DeleteMailRule(rules, 0);
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].domain, "b.lan");
  DeleteMailRule(rules, 5);
  ToggleMailRule(rules, 5);
  EXPECT_EQ(rules.size(), 1u);
}

TEST(MailRuleEditor, TheGridShowsServersWithTheirPorts) {
  auto titles = MailRuleColumnTitles();
  EXPECT_EQ(titles[0], "Домен");
  EXPECT_EQ(titles[1], "SMTP-сервер");
  EXPECT_EQ(titles[2], "POP3-сервер");
  MailDomainRule rule;
  rule.domain = "a.lan";
  rule.smtpServer = "smtp.a.lan";
  rule.smtpPort = 2525;
  rule.popServer = "10.0.0.2";
  auto row = MailRuleRow(rule);
  EXPECT_EQ(row[0], "a.lan");
  EXPECT_EQ(row[1], "smtp.a.lan:2525");
  EXPECT_EQ(row[2], "10.0.0.2:110");
}

class MailRuleApplyTest : public testing::AccountTest {};

TEST_F(MailRuleApplyTest, ApplyRewritesTheSectionAndPutsTheRulesInForce) {
  WriteText(SettingsPath(),
            "[System]\r\nEnablePost=1\r\n\r\n[PostRelays]\r\nold.lan=o; 25; o; 110; 0;\r\n\r\n"
            "[Users]\r\nx=y\r\n");
  MailRuleList rules;
  MailRuleFields a = Fields("a.lan", "127.0.0.1:2525", "25", "127.0.0.1", "1110");
  ASSERT_TRUE(AddMailRule(rules, a).outcome.ok);
  ToggleMailRule(rules, 0);
  ASSERT_TRUE(ApplyMailRules(rules));
  EXPECT_EQ(ReadText(SettingsPath()),
            "[System]\r\nEnablePost=1\r\n\r\n[PostRelays]\r\n"
            "a.lan=127.0.0.1:2525; 25; 127.0.0.1; 1110; 1;\r\n\r\n[Users]\r\nx=y\r\n");
  ASSERT_EQ(MailRules()->size(), 1u);
  EXPECT_TRUE((*MailRules())[0].disabled);
  PublishMailRules({});
}

}  // namespace
}  // namespace brindlex
