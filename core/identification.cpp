#include "core/identification.h"

#include <mutex>

#include "core/accounting.h"
#include "core/arp_table.h"
#include "core/clock.h"
#include "core/connection.h"
#include "core/process_state.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/subscriptions.h"
#include "core/url_filter.h"
#include "core/users.h"

namespace brindlex {

namespace {

// An address user's password field is empty (address alone suffices) or the
// MAC address the client must have in the ARP table.
bool AddressUserMatches(const UserRecord& user, Ipv4 client) {
  Ipv4 address = 0;
  if (!ParseDottedQuad(user.login, address) || address != client) return false;
  if (user.password.empty()) return true;
  std::optional<MacAddress> expected = ParseMacDigits(user.password);
  if (!expected || *expected == 0) return false;
  std::optional<MacAddress> actual = LookUpMac(client);
  return actual && *actual == *expected;
}

bool MailAddressMatches(const UserRecord& user, std::string_view mail) {
  if (mail.empty()) return false;
  std::string_view list = user.emails;
  size_t pos = 0;
  while (pos < list.size()) {
    size_t end = list.find_first_of(" ;", pos);
    if (end == std::string_view::npos) end = list.size();
    if (end > pos && EqualsNoCase(list.substr(pos, end - pos), mail)) return true;
    pos = end + 1;
  }
  return false;
}

bool LoginUserMatches(const UserRecord& user, const Credentials& c) {
  switch (c.service) {
    case kServiceSmtp:
    case kServicePop3:
      return MailAddressMatches(user, c.mailAddress);
    case kServicePortMapTcp:
    case kServicePortMapUdp:
      return !c.portMapUser.empty() && user.login == c.portMapUser;
    default:
      return !c.login.empty() && EqualsNoCase(user.login, c.login) &&
             (user.password.empty() || user.password == c.password);
  }
}

}  // namespace

UserRecord* IdentifyLocked(const Credentials& credentials) {
  UserRecord* candidate = nullptr;
  for (auto& entry : Users()) {
    UserRecord& user = *entry;
    if (user.login.empty() || user.deleted || user.disabled) continue;
    if (user.byAddress) {
      if (AddressUserMatches(user, credentials.clientAddress)) candidate = &user;
    } else if (LoginUserMatches(user, credentials)) {
      return &user;
    }
  }
  if (!candidate) return nullptr;
  std::tm now = LocalTm(ProgramClock().LocalNow());
  return ScheduleAllows(candidate->schedule, (now.tm_wday + 6) % 7, now.tm_hour) ? candidate : nullptr;
}

int AccessRefusal(const UserRecord& user, std::uint8_t service, Ipv4 clientAddress, std::string_view url,
                  bool documentMode, std::int64_t contentLength) {
  ExceededLimits exceeded;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    if (!SubscriptionTest(user)) return 497;
    exceeded = LimitTest(user);
  }
  int column = ServiceColumnOf(service);
  bool allowedAfterExceed = column >= 0 && user.rules.allowedAfterExceed[column];
  bool denied = column >= 0 && user.rules.protocolDenied[column];
  if (documentMode) {
    bool tooLarge = !allowedAfterExceed && user.rules.maxDocumentMb > 0 && contentLength >= 0 &&
                    static_cast<double>(contentLength) / static_cast<double>(BytesPerMb()) > user.rules.maxDocumentMb;
    return tooLarge ? 492 : 0;
  }
  if (user.disabled || user.deleted) return 486;
  if (denied) return 494;
  if (!AddressListAdmits(SplitList(user.clientAddresses), clientAddress)) return 495;
  if (user.group && !AddressListAdmits(SplitList(user.group->clientAddresses), clientAddress)) return 495;
  if (!allowedAfterExceed && !SchedulesAllowNow(user)) return 491;
  if (FilterRequest(user, url) == FilterVerdict::Refuse) return 493;
  if (user.rules.speedExceeded != 0 || allowedAfterExceed) return 0;
  return exceeded.RefusalCode();
}

const UserRecord* ConnectionUser(const ConnectionRecord& record) {
  return record.userSession ? record.userSession->user : nullptr;
}

}  // namespace brindlex
