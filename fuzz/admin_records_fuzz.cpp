// The console channel's payload decoder on arbitrary bytes: the first byte
// picks the record a reply or call would carry, the rest is decoded as it.
// A payload that decodes must encode back to the very same bytes (the form
// has one encoding per value), and no decode may read past the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/admin_records.h"

namespace {

template <class T>
void CheckRecord(std::string_view payload) {
  T value{};
  if (!brindlex::Decode(payload, value)) return;
  if (brindlex::Encode(value) != payload) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brindlex;
  if (size == 0) return 0;
  std::string_view payload(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 28) {
    case 0:
      CheckRecord<UsersSnapshot>(payload);
      break;
    case 1:
      CheckRecord<std::optional<std::vector<ConsoleAddressSession>>>(payload);
      break;
    case 2:
      CheckRecord<std::vector<ConsoleCacheEntry>>(payload);
      break;
    case 3:
      CheckRecord<CacheFigures>(payload);
      break;
    case 4:
      CheckRecord<StatusFigures>(payload);
      break;
    case 5:
      CheckRecord<SpeedSlots>(payload);
      break;
    case 6:
      CheckRecord<StatisticsQuery>(payload);
      break;
    case 7:
      CheckRecord<std::vector<StatisticsRow>>(payload);
      break;
    case 8:
      CheckRecord<std::vector<ConfigControlValue>>(payload);
      break;
    case 9:
      CheckRecord<ConfigApplyOutcome>(payload);
      break;
    case 10:
      CheckRecord<ConfigEditOutcome>(payload);
      break;
    case 11:
      CheckRecord<std::optional<GroupRecord>>(payload);
      break;
    case 12:
      CheckRecord<std::optional<ConsoleUserDraft>>(payload);
      break;
    case 13:
      CheckRecord<ConsoleFilterLists>(payload);
      break;
    case 14:
      CheckRecord<ConsoleFilterChoice>(payload);
      break;
    case 15:
      CheckRecord<MailRuleList>(payload);
      break;
    case 16:
      CheckRecord<std::vector<PortMapRule>>(payload);
      break;
    case 17:
      CheckRecord<std::vector<UserChoice>>(payload);
      break;
    case 18:
      CheckRecord<std::optional<ConsoleTicket>>(payload);
      break;
    case 19:
      CheckRecord<TicketEntry>(payload);
      break;
    case 20:
      CheckRecord<SubscriptionOutcome>(payload);
      break;
    case 21:
      CheckRecord<RebuildProgress>(payload);
      break;
    case 22:
      CheckRecord<std::vector<Ipv4>>(payload);
      break;
    case 23:
      CheckRecord<std::vector<std::string>>(payload);
      break;
    case 24:
      CheckRecord<std::vector<ConsoleUser>>(payload);
      break;
    case 25: {
      // A call's arguments: a filter addition, enums and all.
      StatisticsSubject subject{};
      std::uint32_t id = 0;
      FilterAdditionScope scope{};
      std::int32_t kind = 0;
      std::string pattern;
      if (Decode(payload, subject, id, scope, kind, pattern) && Encode(subject, id, scope, kind, pattern) != payload) {
        std::abort();
      }
      break;
    }
    case 26:
      CheckRecord<DialUpPhoneBook>(payload);
      break;
    case 27:
      CheckRecord<MailRefusal>(payload);
      break;
  }
  return 0;
}
