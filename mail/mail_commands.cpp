#include "mail/mail_commands.h"

#include "core/chars.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

constexpr int kCodeDigitsMax = 9;

// A continuation line of a multi-line reply: three digits and a '-'.
bool IsContinuation(std::string_view line) {
  return line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) && line[3] == '-';
}

size_t TokenEnd(std::string_view text, size_t at) {
  while (at < text.size() && !IsLineEnd(text[at]) && !IsBlank(text[at])) ++at;
  return at;
}

}  // namespace

bool IsSmtpHello(std::string_view line) { return StartsWithNoCase(line, "helo") || StartsWithNoCase(line, "ehlo"); }

std::optional<std::string_view> SmtpSender(std::string_view line) {
  constexpr std::string_view kMailFrom = "mail from:";
  if (!StartsWithNoCase(line, kMailFrom)) return std::nullopt;
  size_t at = SkipBlanks(line, kMailFrom.size());
  if (at < line.size() && line[at] == '<') ++at;
  size_t end = at;
  while (end < line.size() && !IsLineEnd(line[end]) && line[end] != '>') ++end;
  return line.substr(at, end - at);
}

size_t SmtpReplyLength(std::string_view text) {
  size_t at = 0;
  while (size_t length = FirstLineLength(text.substr(at))) {
    bool last = !IsContinuation(text.substr(at, length));
    at += length;
    if (last) return at;
  }
  return 0;
}

int SmtpReplyCode(std::string_view line) {
  int code = 0;
  size_t digits = 0;
  while (digits < line.size() && digits < kCodeDigitsMax && IsDigit(line[digits]))
    code = code * 10 + (line[digits++] - '0');
  return digits == 0 ? -1 : code;
}

Pop3User ParsePop3User(std::string_view line, std::string_view separator) {
  Pop3User user;
  if (!StartsWithNoCase(line, "user")) return user;
  size_t start = SkipBlanks(line, 4);
  auto separatorAt = [&](size_t at) { return !separator.empty() && StartsWithNoCase(line.substr(at), separator); };
  size_t at = start;
  while (at < line.size() && !IsLineEnd(line[at]) && !IsBlank(line[at]) && !separatorAt(at)) ++at;
  user.mailbox = line.substr(start, at - start);
  if (user.mailbox.size() > kMailboxMax) {
    user.result = Pop3UserResult::kMailboxTooLong;
    return user;
  }
  if (at >= line.size() || !separatorAt(at)) {
    user.result = Pop3UserResult::kNoSeparator;
    return user;
  }
  at += separator.size();
  user.address = line.substr(at, TokenEnd(line, at) - at);
  user.result = user.address.empty() ? Pop3UserResult::kNoAddress : Pop3UserResult::kOk;
  return user;
}

}  // namespace brindlex
