// The lines a mail client or server sends before the relay: a HELO test, a
// MAIL FROM sender, a server reply's length and code, and a POP3 USER line
// read with the first input byte's choice of separator. Nothing is read past
// the text; a sender or mailbox or address lies inside it and holds no line
// end; a reply ends with a line feed; a mailbox is never longer than its
// field.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mail/mail_commands.h"

using namespace brindlex;

namespace {

bool Inside(std::string_view part, std::string_view text) {
  return part.empty() || (part.data() >= text.data() && part.data() + part.size() <= text.data() + text.size());
}

bool HasLineEnd(std::string_view part) { return part.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the separator's length (0 to 3), the next ones are it.
  size_t separatorLength = data[0] % 4;
  if (size < 1 + separatorLength) return 0;
  std::string_view separator(reinterpret_cast<const char*>(data) + 1, separatorLength);
  std::string_view text(reinterpret_cast<const char*>(data) + 1 + separatorLength, size - 1 - separatorLength);

  IsSmtpHello(text);
  if (auto sender = SmtpSender(text)) {
    if (!Inside(*sender, text) || HasLineEnd(*sender) || sender->find('>') != std::string_view::npos) __builtin_trap();
  }
  size_t reply = SmtpReplyLength(text);
  if (reply > text.size() || (reply > 0 && text[reply - 1] != '\n')) __builtin_trap();
  int code = SmtpReplyCode(text);
  if (code < -1 || code > 999999999) __builtin_trap();

  Pop3User user = ParsePop3User(text, separator);
  if (!Inside(user.mailbox, text) || !Inside(user.address, text)) __builtin_trap();
  if (user.result == Pop3UserResult::kOk) {
    if (user.mailbox.size() > kMailboxMax || user.address.empty() || HasLineEnd(user.mailbox) ||
        HasLineEnd(user.address) || separator.empty())
      __builtin_trap();
  }
  return 0;
}
