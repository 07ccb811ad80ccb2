// The messages of the outgoing queue and their form on the wire: the headers
// (date, sender, recipients, subject, a plain-text type naming KOI8-R) and the
// body, converted to KOI8-R with CRLF line ends. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindlex {

// One entry of the outgoing queue.
struct OutgoingMail {
  std::string recipient;  // one address per line
  std::string text;       // UTF-8
};

// The addresses of a recipient text: one per line, blanks around each
// dropped, empty lines skipped.
std::vector<std::string> RecipientAddresses(std::string_view recipientText);

// The identity a client gives in its greeting: the part of the sender
// address before the '@' (all of it when there is none).
std::string GreetingIdentity(std::string_view senderAddress);

struct MailSender {
  std::string name;     // display name, UTF-8; may be empty
  std::string address;  // the mailbox
};

// The whole message, headers and body. `localNow` and `zoneOffset` (seconds
// east of Greenwich) date it. Non-ASCII text in the headers goes as encoded
// words of KOI8-R; control characters never reach a header, so no field can
// add a header line of its own.
std::string ComposeMailMessage(const OutgoingMail& mail, const MailSender& sender, std::int64_t localNow,
                               std::int64_t zoneOffset);

}  // namespace brindlex
