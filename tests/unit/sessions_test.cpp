#include "core/sessions.h"

#include <gtest/gtest.h>
#include <mutex>

#include "core/process_state.h"
#include "core/settings.h"

namespace brindlex {
namespace {

Ipv4 Ip(const char* text) { return ParseIpv4(text); }

TEST(AddressList, RangesCompareUnsignedAndMalformedElementsAdmitNothing) {
  const std::vector<std::string> lan{"192.168.0.1-192.168.0.254"};
  EXPECT_TRUE(AddressListAdmits({}, Ip("10.0.0.1"))) << "an empty list admits everybody";
  EXPECT_TRUE(AddressListAdmits(lan, Ip("192.168.0.77")));
  EXPECT_FALSE(AddressListAdmits(lan, Ip("10.0.0.1")));
  EXPECT_TRUE(AddressListAdmits({"192.168.0.5"}, Ip("192.168.0.5"))) << "a single address";
  EXPECT_FALSE(AddressListAdmits({"192.168.0.5"}, Ip("192.168.0.6")));
  EXPECT_FALSE(AddressListAdmits({"1.2.3-1.2.3.9", "x-y"}, Ip("1.2.3.5")));
  EXPECT_TRUE(AddressListAdmits({"127.255.255.250-128.0.0.5"}, Ip("128.0.0.1")));
  EXPECT_TRUE(AddressListAdmits({"bad", "10.0.0.1-10.0.0.1"}, Ip("10.0.0.1")));
}

TEST(AddressList, NetworksInSlashFormAndWhatIsNoRangeAtAll) {
  struct Case {
    const char* text;
    const char* first;  // nullptr: not understood
    const char* last;
  } cases[] = {
      {"127.0.0.0/8", "127.0.0.0", "127.255.255.255"},
      {"192.168.1.77/24", "192.168.1.0", "192.168.1.255"},  // host bits ignored
      {"10.0.0.5/32", "10.0.0.5", "10.0.0.5"},
      {"0.0.0.0/0", "0.0.0.0", "255.255.255.255"},
      {" 10.0.0.1 - 10.0.0.9 ", "10.0.0.1", "10.0.0.9"},
      {"10.0.0.1", "10.0.0.1", "10.0.0.1"},
      {"10.0.0.0/33", nullptr, nullptr},
      {"10.0.0.0/-1", nullptr, nullptr},
      {"10.0.0.0/", nullptr, nullptr},
      {"10.0.0.0/8x", nullptr, nullptr},
      {"10.0.0/8", nullptr, nullptr},
      {"lan", nullptr, nullptr},
      {"", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    std::optional<AddressRange> range = ParseAddressRange(c.text);
    ASSERT_EQ(range.has_value(), c.first != nullptr) << c.text;
    if (!range) continue;
    EXPECT_EQ(FormatIpv4(range->first), c.first) << c.text;
    EXPECT_EQ(FormatIpv4(range->last), c.last) << c.text;
  }
  EXPECT_TRUE(AddressListAdmits({"127.0.0.0/8"}, Ip("127.0.0.1")));
  EXPECT_FALSE(AddressListAdmits({"127.0.0.0/8"}, Ip("128.0.0.1")));
}

TEST(InterfaceList, EmptyAdmitsAnyLocalAddress) {
  EXPECT_TRUE(InterfaceAdmits({}, Ip("10.0.0.1")));
  EXPECT_TRUE(InterfaceAdmits({"junk", "192.168.1.1"}, Ip("192.168.1.1")));
  EXPECT_FALSE(InterfaceAdmits({"192.168.1.1"}, Ip("127.0.0.1")));
}

TEST(Admission, OneSessionRecordPerAddressCountingItsConnections) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  SessionListLocked().clear();
  PublishSettings(SystemSettings{});
  SessionRecord* a = nullptr;
  SessionRecord* b = nullptr;
  ASSERT_TRUE(AdmitLocked(Ip("10.0.0.7"), Ip("10.0.0.1"), a));
  ASSERT_TRUE(AdmitLocked(Ip("10.0.0.7"), Ip("10.0.0.1"), b));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->openConnections, 2);
  EXPECT_EQ(SessionListLocked().size(), 1u);

  a->idle = -1;  // being closed from the console
  SessionRecord* refused = nullptr;
  EXPECT_FALSE(AdmitLocked(Ip("10.0.0.7"), Ip("10.0.0.1"), refused));
  EXPECT_EQ(refused, a) << "the raised count must be lowered by the close bookkeeping";
  EXPECT_EQ(a->openConnections, 3);

  ChangeSettings([&](SystemSettings& s) { s.UsersAddrs = {"192.168.0.1-192.168.0.9"}; });
  SessionRecord* outside = nullptr;
  EXPECT_FALSE(AdmitLocked(Ip("10.0.0.8"), Ip("10.0.0.1"), outside));
  EXPECT_EQ(outside, nullptr) << "refused before any session exists";
  EXPECT_EQ(SessionListLocked().size(), 1u);
  PublishSettings(SystemSettings{});
  SessionListLocked().clear();
}

}  // namespace
}  // namespace brindlex
