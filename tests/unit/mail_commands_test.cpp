#include "mail/mail_commands.h"

#include <gtest/gtest.h>
#include <string>

namespace brindlex {
namespace {

TEST(MailCommands, HelloIsHeloOrEhloInAnyCase) {
  EXPECT_TRUE(IsSmtpHello("EHLO client.lan\r\n"));
  EXPECT_TRUE(IsSmtpHello("helo x\r\n"));
  EXPECT_TRUE(IsSmtpHello("eHlO"));
  EXPECT_FALSE(IsSmtpHello("MAIL FROM:<a@b>\r\n"));
  EXPECT_FALSE(IsSmtpHello("HEL"));
  EXPECT_FALSE(IsSmtpHello(" EHLO x\r\n"));
}

TEST(MailCommands, TheSenderIsTakenFromBracketsOrBare) {
  EXPECT_EQ(SmtpSender("MAIL FROM:<bob@example.lan>\r\n"), "bob@example.lan");
  EXPECT_EQ(SmtpSender("mail from:   <bob@example.lan> SIZE=100\r\n"), "bob@example.lan");
  EXPECT_EQ(SmtpSender("Mail From:bob@example.lan\r\n"), "bob@example.lan");
  EXPECT_EQ(SmtpSender("MAIL FROM:\t<>\r\n"), "");
  EXPECT_EQ(SmtpSender("MAIL FROM:<bob@x"), "bob@x") << "the end of the text ends the address";
  EXPECT_EQ(SmtpSender("MAIL FROM:<<bob@x>\r\n"), "<bob@x") << "only one '<' is skipped";
  EXPECT_FALSE(SmtpSender("RCPT TO:<bob@example.lan>\r\n"));
  EXPECT_FALSE(SmtpSender("MAIL FROM <bob@example.lan>\r\n"));
  EXPECT_FALSE(SmtpSender("MAIL FRO"));
}

TEST(MailCommands, AReplyIsCompleteWithItsLastLine) {
  EXPECT_EQ(SmtpReplyLength("220 ready\r\n"), 11u);
  EXPECT_EQ(SmtpReplyLength("220 ready\r\n250 next"), 11u);
  EXPECT_EQ(SmtpReplyLength("220 ready"), 0u);
  EXPECT_EQ(SmtpReplyLength("250-host\r\n250-SIZE 100\r\n"), 0u) << "continuation lines alone";
  EXPECT_EQ(SmtpReplyLength("250-host\r\n250-SIZE 100\r\n250 HELP\r\n"), 34u);
  EXPECT_EQ(SmtpReplyLength("no number\n"), 10u) << "a line without a code ends a reply";
  EXPECT_EQ(SmtpReplyLength(""), 0u);
}

TEST(MailCommands, TheReplyCodeIsTheLeadingNumber) {
  EXPECT_EQ(SmtpReplyCode("220 ready\r\n"), 220);
  EXPECT_EQ(SmtpReplyCode("250-host\r\n"), 250);
  EXPECT_EQ(SmtpReplyCode("421"), 421);
  EXPECT_EQ(SmtpReplyCode("hello\r\n"), -1);
  EXPECT_EQ(SmtpReplyCode(""), -1);
  EXPECT_EQ(SmtpReplyCode("12345678901234 x"), 123456789) << "nine digits at most";
}

TEST(MailCommands, AUserLineGivesMailboxAndAddress) {
  Pop3User user = ParsePop3User("USER box#bob@example.lan\r\n", "#");
  EXPECT_EQ(user.result, Pop3UserResult::kOk);
  EXPECT_EQ(user.mailbox, "box");
  EXPECT_EQ(user.address, "bob@example.lan");
  user = ParsePop3User("user \t box%%bob@x extra\r\n", "%%");
  EXPECT_EQ(user.result, Pop3UserResult::kOk);
  EXPECT_EQ(user.mailbox, "box");
  EXPECT_EQ(user.address, "bob@x");
  user = ParsePop3User("USER boxSEPbob@x", "sep");
  EXPECT_EQ(user.result, Pop3UserResult::kOk) << "the separator compares letter case aside";
  EXPECT_EQ(user.mailbox, "box");
  EXPECT_EQ(user.address, "bob@x");
  user = ParsePop3User("USER #bob@x\r\n", "#");
  EXPECT_EQ(user.result, Pop3UserResult::kOk);
  EXPECT_EQ(user.mailbox, "");
}

TEST(MailCommands, AUserLineWithoutItsPartsIsRefusedByWhatIsMissing) {
  EXPECT_EQ(ParsePop3User("PASS secret\r\n", "#").result, Pop3UserResult::kNotUser);
  EXPECT_EQ(ParsePop3User("USE", "#").result, Pop3UserResult::kNotUser);
  EXPECT_EQ(ParsePop3User("USER box\r\n", "#").result, Pop3UserResult::kNoSeparator);
  EXPECT_EQ(ParsePop3User("USER box", "#").result, Pop3UserResult::kNoSeparator);
  EXPECT_EQ(ParsePop3User("USER box #bob@x\r\n", "#").result, Pop3UserResult::kNoSeparator) << "a blank ends the name";
  EXPECT_EQ(ParsePop3User("USER box#bob@x\r\n", "").result, Pop3UserResult::kNoSeparator);
  EXPECT_EQ(ParsePop3User("USER box#\r\n", "#").result, Pop3UserResult::kNoAddress);
  EXPECT_EQ(ParsePop3User("USER box#", "#").result, Pop3UserResult::kNoAddress);
  EXPECT_EQ(ParsePop3User("USER box# bob@x\r\n", "#").result, Pop3UserResult::kNoAddress);
}

TEST(MailCommands, AMailboxNameLongerThanTheFieldIsRefused) {
  std::string longest(kMailboxMax, 'm');
  Pop3User user = ParsePop3User("USER " + longest + "#bob@x\r\n", "#");
  EXPECT_EQ(user.result, Pop3UserResult::kOk);
  EXPECT_EQ(user.mailbox.size(), kMailboxMax);
  EXPECT_EQ(ParsePop3User("USER " + longest + "m#bob@x\r\n", "#").result, Pop3UserResult::kMailboxTooLong);
  EXPECT_EQ(ParsePop3User("USER " + longest + "m\r\n", "#").result, Pop3UserResult::kMailboxTooLong);
}

}  // namespace
}  // namespace brindlex
