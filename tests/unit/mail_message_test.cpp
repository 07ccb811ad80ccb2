#include "reports/mail_message.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/clock.h"
#include "reports/koi8r_text.h"

namespace brindlex::testing {
namespace {

// The header lines of a message (continuation lines joined to theirs).
std::vector<std::string> HeaderLines(const std::string& message) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    size_t end = message.find("\r\n", start);
    if (end == std::string::npos || end == start) break;
    std::string line = message.substr(start, end - start);
    if (line[0] == ' ' && !lines.empty())
      lines.back() += line;
    else
      lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

std::string Header(const std::string& message, const std::string& name) {
  for (const std::string& line : HeaderLines(message))
    if (line.rfind(name + ": ", 0) == 0) return line.substr(name.size() + 2);
  return "(none)";
}

// The bytes of "=?koi8-r?Q?...?=" words, blanks between words dropped.
std::string DecodeWords(const std::string& text) {
  std::string out;
  size_t at = 0;
  while ((at = text.find("=?koi8-r?Q?", at)) != std::string::npos) {
    at += 11;
    size_t end = text.find("?=", at);
    for (size_t i = at; i < end; ++i) {
      if (text[i] == '_') {
        out += ' ';
      } else if (text[i] == '=') {
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += text[i];
      }
    }
    at = end + 2;
  }
  return out;
}

std::string Body(const std::string& message) { return message.substr(message.find("\r\n\r\n") + 4); }

const std::int64_t kNow = LocalSeconds(2026, 12, 7, 21, 4, 5);  // a Monday

TEST(MailMessage, HeadersNameSenderRecipientsSubjectAndKoi8r) {
  std::string message = ComposeMailMessage({"a@lan.example\r\n  b@lan.example \n\n", "текст"},
                                           {"Админ Шлюза", "admin@lan.example"}, kNow, 3 * 3600);
  EXPECT_EQ(Header(message, "Date"), "Mon, 07 Dec 2026 21:04:05 +0300");
  EXPECT_EQ(Header(message, "To"), "a@lan.example, b@lan.example");
  std::string from = Header(message, "From");
  EXPECT_EQ(DecodeWords(from), ToKoi8r("Админ Шлюза"));
  EXPECT_NE(from.find(" <admin@lan.example>"), std::string::npos) << from;
  EXPECT_EQ(DecodeWords(Header(message, "Subject")), ToKoi8r("Сообщение администратора INTERNET"));
  EXPECT_EQ(Header(message, "Content-Type"), "text/plain; charset=koi8-r");
  EXPECT_EQ(Header(message, "Content-Transfer-Encoding"), "8bit");
  // A header word may have at most 75 characters.
  for (size_t at = 0; (at = message.find("=?koi8-r?Q?", at)) != std::string::npos; ++at)
    EXPECT_LE(message.find("?=", at + 11) + 2 - at, 75u) << message.substr(at);
}

TEST(MailMessage, TheBodyIsKoi8rInCrlfLines) {
  std::string message = ComposeMailMessage({"a@b", "Ёлки\nдва\r\nтри\rчетыре"}, {"", "x@y"}, kNow, 0);
  EXPECT_EQ(Body(message), ToKoi8r("Елки\r\nдва\r\nтри\r\nчетыре\r\n"));
  EXPECT_EQ(Header(message, "From"), "<x@y>");
  EXPECT_EQ(Header(message, "Date"), "Mon, 07 Dec 2026 21:04:05 +0000");
}

TEST(MailMessage, APlainNameIsQuotedAndNoFieldAddsAHeaderLine) {
  std::string message =
      ComposeMailMessage({"a@b\r\nBcc: c@d", "x"}, {"Admin \"Big\"\r\nBcc: e@f", "adm@x\r\nBcc: g@h"}, kNow, -3600);
  EXPECT_EQ(Header(message, "From"), "\"Admin \\\"Big\\\"Bcc: e@f\" <adm@xBcc: g@h>");
  EXPECT_EQ(Header(message, "Bcc"), "(none)");
  EXPECT_EQ(Header(message, "To"), "a@b, Bcc: c@d");
  EXPECT_NE(Header(message, "Date").find(" -0100"), std::string::npos);
}

TEST(MailMessage, RecipientsAndGreetingIdentity) {
  EXPECT_EQ(RecipientAddresses(" a@b \r\n\r\nc@d"), (std::vector<std::string>{"a@b", "c@d"}));
  EXPECT_TRUE(RecipientAddresses(" \r\n").empty());
  EXPECT_EQ(GreetingIdentity("gateway@lan.example"), "gateway");
  EXPECT_EQ(GreetingIdentity("gateway"), "gateway");
  EXPECT_EQ(GreetingIdentity(""), "");
}

}  // namespace
}  // namespace brindlex::testing
