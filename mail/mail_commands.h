// What the mail front ends read before the relay runs: the client's first
// command lines and the server's first replies. Pure functions; each reads
// only inside the text it is given, which may be any bytes a peer sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace brindlex {

// The longest mailbox name a POP3 USER argument may carry.
inline constexpr size_t kMailboxMax = 262;

// Whether a client line opens the SMTP dialogue: it begins with "helo" or
// "ehlo", letter case aside.
bool IsSmtpHello(std::string_view line);

// The sender of a line that begins with "mail from:" (letter case aside):
// after the colon blanks are skipped, then one '<'; the address runs up to CR,
// LF, '>' or the end of the text. nullopt for any other line.
std::optional<std::string_view> SmtpSender(std::string_view line);

// The length of the server's complete reply at the start of `text`: through
// the line feed of its last line, the first line that is not a continuation
// ("250-..."); 0 while that line has not arrived.
size_t SmtpReplyLength(std::string_view text);
// The number a reply line begins with (at most nine digits); -1 without one.
int SmtpReplyCode(std::string_view line);

enum class Pop3UserResult : std::uint8_t {
  kOk,
  kNotUser,         // the line does not begin with "user"
  kMailboxTooLong,  // more than kMailboxMax characters before the separator
  kNoSeparator,     // the name ends (blank, line end) before the separator
  kNoAddress,       // nothing after the separator
};

struct Pop3User {
  Pop3UserResult result = Pop3UserResult::kNotUser;
  std::string_view mailbox;
  std::string_view address;
};

// A POP3 USER line: after "user" (letter case aside) and blanks, the mailbox
// name runs up to CR, LF, a blank or the separator (compared letter case
// aside); after the separator the mail address runs up to CR, LF or a blank.
// An empty separator is never found.
Pop3User ParsePop3User(std::string_view line, std::string_view separator);

}  // namespace brindlex
