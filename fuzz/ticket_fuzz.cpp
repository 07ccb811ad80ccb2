// The stored subscription reader on arbitrary bytes: parsing, the tests and
// log line that read a parsed ticket, and a format/parse round trip that must
// settle after one pass.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/settings.h"
#include "core/subscriptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brindlex;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TicketRecord first = ParseTicket(text);
  if (!first.open) std::abort();

  // Extreme counters and corrections must neither overflow nor hit the mark
  // that stands for "no limit" where a limit exists.
  UserRecord user;
  user.rules.prepaid = true;
  user.login = "fuzz";
  user.ticket = first;
  for (int percent : {0, 10, -100, 1000000}) {
    ChangeSettings([&](SystemSettings& s) { s.CorrectTraffic = percent; });
    SubscriptionTest(user);
    CounterBlock rest = Remaining(user);
    if ((first.limit.incoming != 0) != (rest.incoming != kUnlimitedAmount)) std::abort();
  }
  ChangeSettings([&](SystemSettings& s) { s.CorrectTraffic = 0; });
  FormatTicketLogLine("ADD_TICKET", user.login, first.changedAt, first);

  std::string once = FormatTicket(first);
  TicketRecord second = ParseTicket(once);
  if (FormatTicket(second) != once) std::abort();
  if (second.limit != first.limit || second.used != first.used || second.number != first.number) std::abort();
  return 0;
}
