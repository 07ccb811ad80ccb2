#include "core/identification.h"

#include <unistd.h>

#include <fstream>
#include <gtest/gtest.h>
#include <mutex>

#include "core/arp_table.h"
#include "core/clock.h"
#include "core/connection.h"
#include "core/filter_text.h"
#include "core/groups.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/users.h"
#include "tests/unit/account_world.h"

namespace brindlex {
namespace {

class Identification : public testing::AccountWorld {
 protected:
  UserRecord* Add(const std::string& login, const std::string& password, bool byAddress) {
    UserRecord* user = AddUser(login, byAddress);
    user->password = password;
    return user;
  }
  UserRecord* Identify(Credentials c) {
    std::lock_guard<std::mutex> lock(AccountsLock());
    return IdentifyLocked(c);
  }
};

Credentials Http(const char* client, std::string_view login = {}, std::string_view password = {}) {
  Credentials c;
  c.service = kServiceHttp;
  c.clientAddress = ParseIpv4(client);
  c.login = login;
  c.password = password;
  return c;
}

TEST_F(Identification, AddressUsersLaterWinsAndLoginUsersBeatThem) {
  Add("10.0.0.5", "", true);
  UserRecord* later = Add("10.0.0.5", "", true);
  EXPECT_EQ(Identify(Http("10.0.0.5")), later);
  EXPECT_EQ(Identify(Http("10.0.0.6")), nullptr);
  UserRecord* bob = Add("bob", "", false);
  EXPECT_EQ(Identify(Http("10.0.0.5", "BOB", "anything")), bob) << "empty password accepts any";
}

TEST_F(Identification, PasswordsCompareExactlyAndAWrongOneFallsThrough) {
  UserRecord* first = Add("ann", "Secret", false);
  UserRecord* second = Add("Ann", "other", false);
  EXPECT_EQ(Identify(Http("10.0.0.9", "ann", "Secret")), first);
  EXPECT_EQ(Identify(Http("10.0.0.9", "ann", "other")), second) << "a differing password goes on to the next user";
  EXPECT_EQ(Identify(Http("10.0.0.9", "ann", "secret")), nullptr);
  first->disabled = true;
  second->deleted = true;
  EXPECT_EQ(Identify(Http("10.0.0.9", "ann", "Secret")), nullptr) << "disabled and deleted users are skipped";
}

TEST_F(Identification, MailAddressesMatchWithoutRegardToCase) {
  UserRecord* mail = Add("mary", "", false);
  mail->emails = "x@lan; mary@corp.lan other@lan";
  Credentials c;
  c.service = kServicePop3;
  c.clientAddress = ParseIpv4("10.0.0.2");
  c.mailAddress = "MARY@Corp.LAN";
  EXPECT_EQ(Identify(c), mail);
  c.mailAddress = "mary@corp";
  EXPECT_EQ(Identify(c), nullptr);
}

TEST_F(Identification, PortMappingUserNamesCompareWithCase) {
  UserRecord* rule = Add("Mapper", "pw", false);
  Credentials c;
  c.service = kServicePortMapTcp;
  c.portMapUser = "Mapper";
  EXPECT_EQ(Identify(c), rule) << "no password needed: the rule names the user";
  c.portMapUser = "mapper";
  EXPECT_EQ(Identify(c), nullptr);
}

TEST_F(Identification, AnAddressUserOutsideItsScheduleIsNotIdentified) {
  UserRecord* user = Add("10.0.0.5", "", true);
  user->schedule = Schedule{};
  EXPECT_EQ(Identify(Http("10.0.0.5")), nullptr);
}

TEST_F(Identification, AMacAddressMustMatchTheArpTable) {
  char name[] = "/tmp/brindlex-arp-XXXXXX";
  ::close(::mkstemp(name));
  std::ofstream(name) << "IP address       HW type     Flags       HW address            Mask     Device\n"
                         "10.0.0.5         0x1         0x2         00:1a:2b:3c:4d:5e     *        eth0\n"
                         "10.0.0.6         0x1         0x0         00:00:00:00:00:00     *        eth0\n";
  SetArpTablePath(name);
  UserRecord* user = Add("10.0.0.5", "001A2B3C4D5E", true);
  EXPECT_EQ(Identify(Http("10.0.0.5")), user);
  user->password = "001A2B3C4D5F";
  EXPECT_EQ(Identify(Http("10.0.0.5")), nullptr);
  user->password = "not hex";
  EXPECT_EQ(Identify(Http("10.0.0.5")), nullptr);
  UserRecord* incomplete = Add("10.0.0.6", "000000000001", true);
  EXPECT_EQ(Identify(Http("10.0.0.6")), nullptr) << "incomplete entries are ignored";
  (void)incomplete;
  SetArpTablePath("/nonexistent/arp");
  user->password = "001A2B3C4D5E";
  EXPECT_EQ(Identify(Http("10.0.0.5")), nullptr) << "an unreadable table finds nothing";
  ::unlink(name);
}

TEST_F(Identification, AccessRulesInTheirOrder) {
  UserRecord* user = Add("bob", "", false);
  const Ipv4 client = ParseIpv4("10.0.0.5");
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, client, "http://a.lan/", false, -1), 0);

  user->rules.monthMb = 1;
  user->monthCounters.incoming = 2 * 1024 * 1024;
  user->rules.speedExceeded = 0;
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, client, "http://a.lan/", false, -1), 487);
  user->rules.speedExceeded = 2;
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, client, "http://a.lan/", false, -1), 0) << "slowed, not refused";

  user->clientAddresses = "10.0.1.1-10.0.1.9";
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, client, "http://a.lan/", false, -1), 495);
  user->clientAddresses = "";
  Groups().front()->clientAddresses = "10.0.1.1-10.0.1.9";
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, client, "http://a.lan/", false, -1), 495) << "the group's list too";
  Groups().front()->clientAddresses = "";
  user->rules.protocolDenied[kColumnHttp] = true;
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, client, "http://a.lan/", false, -1), 494);
  user->disabled = true;
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, client, "http://a.lan/", false, -1), 486);
  user->disabled = false;
  user->rules.protocolDenied[kColumnHttp] = false;
  user->schedule = Schedule{};
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, client, "http://a.lan/", false, -1), 491);
  user->schedule = FullSchedule();
  user->denyFilter = FormatFilterText(FilterList{true, {FilterEntry{"blocked.lan", kFilterHost, 0}}});
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, client, "http://blocked.lan/x", false, -1), 493);
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, client, "http://fine.lan/x", false, -1), 0);
}

TEST_F(Identification, DocumentModeTestsOnlyTheSize) {
  UserRecord* user = Add("bob", "", false);
  user->rules.maxDocumentMb = 1;
  user->disabled = true;  // not looked at in document mode
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, 0, "", true, 1024 * 1024), 0);
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, 0, "", true, 1024 * 1024 + 1), 492);
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, 0, "", true, -1), 0) << "unknown length";
  user->rules.allowedAfterExceed[kColumnHttp] = true;
  EXPECT_EQ(AccessRefusal(*user, kServiceHttp, 0, "", true, 5 * 1024 * 1024), 0);
}

TEST_F(Identification, PortMappingUsersAllowedAfterExceedSkipScheduleAndLimits) {
  UserRecord* user = Add("mapper", "", false);
  user->schedule = Schedule{};
  user->rules.dayMb = 1;
  user->dayCounters.outgoing = 5 * 1024 * 1024;
  user->rules.allowedAfterExceed[kColumnPortMap] = true;
  EXPECT_EQ(AccessRefusal(*user, kServicePortMapTcp, 0, "", false, -1), 0);
  user->rules.allowedAfterExceed[kColumnPortMap] = false;
  EXPECT_EQ(AccessRefusal(*user, kServicePortMapTcp, 0, "", false, -1), 491);
}

TEST(ArpTable, MacTextsAndDigits) {
  EXPECT_EQ(ParseMacText("00:1a:2B:3c:4d:5e"), std::optional<MacAddress>(0x001A2B3C4D5Eull));
  EXPECT_EQ(ParseMacText("00:1a:2b:3c:4d"), std::nullopt);
  EXPECT_EQ(ParseMacDigits("001A2B3C4D5E"), std::optional<MacAddress>(0x001A2B3C4D5Eull));
  EXPECT_EQ(ParseMacDigits("001A2B3C4D5E0"), std::nullopt);
  EXPECT_EQ(ParseMacDigits(""), std::nullopt);
  EXPECT_EQ(FindMacInTable("heading only", 1), std::nullopt);
}

}  // namespace
}  // namespace brindlex
