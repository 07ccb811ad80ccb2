#include "reports/mail_message.h"

#include <cstdio>
#include <ctime>

#include "core/chars.h"
#include "core/clock.h"
#include "core/value_codec.h"
#include "reports/koi8r_text.h"

namespace brindlex {

namespace {

// What every message says in its subject line.
constexpr std::string_view kSubject = "Сообщение администратора INTERNET";

// Bytes of text in one encoded word, so that a word stays within the 75
// characters a header word may have.
constexpr size_t kEncodedWordText = 20;

std::string WithoutControls(std::string_view text) {
  std::string out;
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
  return out;
}

bool IsPlainAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Encoded words ("=?koi8-r?Q?...?=") of the KOI8-R form, folded onto
// continuation lines.
std::string EncodedWords(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string koi8r = ToKoi8r(utf8);
  std::string out;
  for (size_t start = 0; start < koi8r.size(); start += kEncodedWordText) {
    if (start > 0) out += "\r\n ";
    out += "=?koi8-r?Q?";
    for (char c : std::string_view(koi8r).substr(start, kEncodedWordText)) {
      unsigned char byte = static_cast<unsigned char>(c);
      if (byte == ' ') {
        out += '_';
      } else if (IsLetter(c) || IsDigit(c)) {
        out += c;
      } else {
        out += '=';
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
      }
    }
    out += "?=";
  }
  return out;
}

std::string QuotedName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string FromField(const MailSender& sender) {
  std::string name = WithoutControls(sender.name);
  std::string address = "<" + WithoutControls(sender.address) + ">";
  if (name.empty()) return address;
  return (IsPlainAscii(name) ? QuotedName(name) : EncodedWords(name)) + " " + address;
}

std::string DateField(std::int64_t localNow, std::int64_t zoneOffset) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm = LocalTm(localNow);
  std::int64_t offsetMinutes = (zoneOffset < 0 ? -zoneOffset : zoneOffset) / 60;
  char text[64];
  std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[tm.tm_wday % 7], tm.tm_mday,
                kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
                zoneOffset < 0 ? '-' : '+', static_cast<int>(offsetMinutes / 60 % 100),
                static_cast<int>(offsetMinutes % 60));
  return text;
}

// The text's lines, each ended by CRLF (CR, LF and CRLF all end a line).
std::string CrlfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += "\r\n";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  if (!out.empty() && !out.ends_with("\r\n")) out += "\r\n";
  return out;
}

}  // namespace

std::vector<std::string> RecipientAddresses(std::string_view recipientText) {
  std::vector<std::string> addresses;
  size_t start = 0;
  while (start <= recipientText.size()) {
    size_t end = recipientText.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = recipientText.size();
    std::string_view line = Trim(recipientText.substr(start, end - start));
    std::string address = WithoutControls(line);
    if (!address.empty()) addresses.push_back(std::move(address));
    start = end + 1;
  }
  return addresses;
}

std::string GreetingIdentity(std::string_view senderAddress) {
  return WithoutControls(senderAddress.substr(0, senderAddress.find('@')));
}

std::string ComposeMailMessage(const OutgoingMail& mail, const MailSender& sender, std::int64_t localNow,
                               std::int64_t zoneOffset) {
  std::string to;
  for (const std::string& address : RecipientAddresses(mail.recipient)) to += (to.empty() ? "" : ", ") + address;
  std::string message = "Date: " + DateField(localNow, zoneOffset) + "\r\n";
  message += "From: " + FromField(sender) + "\r\n";
  message += "To: " + to + "\r\n";
  message += "Subject: " + EncodedWords(kSubject) + "\r\n";
  message += "MIME-Version: 1.0\r\n";
  message += "Content-Type: text/plain; charset=koi8-r\r\n";
  message += "Content-Transfer-Encoding: 8bit\r\n";
  message += "\r\n";
  message += CrlfLines(ToKoi8r(mail.text));
  return message;
}

}  // namespace brindlex
