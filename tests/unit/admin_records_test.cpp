#include "console/admin_records.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include "console/admin_wire.h"
#include "tests/unit/admin_samples.h"

namespace brindlex::testing {
namespace {

// The record comes back field for field, and no shorter or longer payload
// decodes: every cut ends inside some field.
template <class T>
void ExpectRoundTrip(const T& original) {
  ASSERT_FALSE(Same(original, T{})) << "a sample must differ from the default record";
  const std::string bytes = Encode(original);
  T decoded{};
  ASSERT_TRUE(Decode(bytes, decoded));
  EXPECT_TRUE(Same(original, decoded));
  EXPECT_EQ(Encode(decoded), bytes);
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    T partial{};
    EXPECT_FALSE(Decode(std::string_view(bytes).substr(0, cut), partial)) << "cut at " << cut << " of " << bytes.size();
  }
  T longer{};
  EXPECT_FALSE(Decode(bytes + '\0', longer));
}

TEST(AdminWire, IntegersGoOutLittleEndianInTheirFixedWidth) {
  WireWriter w;
  w.PutU8(0xAB);
  w.PutU16(0x0102);
  w.PutU32(0x01020304);
  w.PutU64(0x0102030405060708ull);
  w.PutI32(-2);
  w.PutBool(true);
  w.PutString("ab");
  EXPECT_EQ(w.Data(), std::string("\xAB\x02\x01\x04\x03\x02\x01\x08\x07\x06\x05\x04\x03\x02\x01\xFE\xFF\xFF\xFF\x01"
                                  "\x02\x00\x00\x00"
                                  "ab",
                                  26));
}

TEST(AdminWire, ExtremesRealsAndBinaryTextComeBackBitForBit) {
  const std::string binary("a\0b\xFF\n", 5);
  WireWriter w;
  w.PutI64(std::numeric_limits<std::int64_t>::min());
  w.PutI64(std::numeric_limits<std::int64_t>::max());
  w.PutI32(std::numeric_limits<std::int32_t>::min());
  w.PutDouble(-0.0);
  w.PutDouble(std::numeric_limits<double>::infinity());
  w.PutDouble(std::numeric_limits<double>::quiet_NaN());
  w.PutDouble(45123.625);
  w.PutString(binary);
  w.PutString("");

  WireReader r(w.Data());
  std::int64_t low = 0, high = 0;
  std::int32_t low32 = 0;
  double negativeZero = 1, infinite = 0, notANumber = 0, dateTime = 0;
  std::string text, empty = "x";
  ASSERT_TRUE(r.GetI64(low) && r.GetI64(high) && r.GetI32(low32));
  ASSERT_TRUE(r.GetDouble(negativeZero) && r.GetDouble(infinite) && r.GetDouble(notANumber) && r.GetDouble(dateTime));
  ASSERT_TRUE(r.GetString(text) && r.GetString(empty));
  EXPECT_TRUE(r.Done());
  EXPECT_EQ(low, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(high, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(low32, std::numeric_limits<std::int32_t>::min());
  EXPECT_TRUE(std::signbit(negativeZero) && negativeZero == 0);
  EXPECT_TRUE(std::isinf(infinite));
  EXPECT_TRUE(std::isnan(notANumber));
  EXPECT_EQ(dateTime, 45123.625);
  EXPECT_EQ(text, binary);
  EXPECT_EQ(empty, "");
}

TEST(AdminWire, AReaderThatFailedStaysFailed) {
  // A boolean byte of 2, then bytes that would read well on their own.
  const std::string bytes("\x02\x05\x00\x00\x00", 5);
  WireReader r(bytes);
  bool flag = false;
  EXPECT_FALSE(r.GetBool(flag));
  std::uint32_t number = 0;
  EXPECT_FALSE(r.GetU32(number));
  std::uint8_t byte = 0;
  EXPECT_FALSE(r.GetU8(byte));
  EXPECT_FALSE(r.Ok());
  EXPECT_FALSE(r.Done());
  EXPECT_EQ(r.Left(), 0u);

  WireReader empty("");
  EXPECT_TRUE(empty.Done());
  EXPECT_FALSE(empty.GetU8(byte));
  EXPECT_FALSE(empty.Done());
}

TEST(AdminWire, LengthsAndCountsTheBytesLeftCannotHoldAreRefused) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case strings[] = {
      {"length past the end", std::string("\x04\x00\x00\x00"
                                          "abc",
                                          7)},
      {"largest length", std::string("\xFF\xFF\xFF\xFF"
                                     "abcd",
                                     8)},
      {"length cut short", std::string("\x01\x00", 2)},
  };
  for (const Case& c : strings) {
    WireReader r(c.bytes);
    std::string text = "kept";
    EXPECT_FALSE(r.GetString(text)) << c.what;
    EXPECT_EQ(text, "kept") << c.what;
  }
  // A length within the bytes but over the caller's bound.
  const std::string overBound = std::string("\x03\x00\x00\x00", 4) + "abc";
  WireReader bounded(overBound);
  std::string text;
  EXPECT_FALSE(bounded.GetString(text, 2));

  // Three elements of at least 4 bytes need 12; 11 are left.
  const std::string counted = std::string("\x03\x00\x00\x00", 4) + std::string(11, '\0');
  WireReader r(counted);
  std::uint32_t count = 0;
  EXPECT_FALSE(r.GetCount(count, 4));
  WireReader fits(counted);
  EXPECT_TRUE(fits.GetCount(count, 3));
  EXPECT_EQ(count, 3u);
}

TEST(AdminWire, AHugeListCountIsRefusedBeforeTheListGrows) {
  // Two billion users announced in a payload of a few bytes.
  const std::string bytes = std::string("\x00\x00\x00\x00\x00\xCA\x9A\x3B", 8) + std::string(16, '\x01');
  UsersSnapshot snapshot;
  EXPECT_FALSE(Decode(bytes, snapshot));
  std::vector<std::string> texts;
  EXPECT_FALSE(Decode(std::string("\xFF\xFF\xFF\x7F\x00\x00\x00\x00", 8), texts));
  EXPECT_TRUE(texts.empty());
}

TEST(AdminRecords, EveryRecordComesBackUnchangedAndEveryCutIsRefused) {
  ExpectRoundTrip(SampleCounters(5));
  ExpectRoundTrip(ConsoleGroup{17, "Склад"});
  ExpectRoundTrip(SampleUser(4));
  ExpectRoundTrip(SampleSnapshot());
  ExpectRoundTrip(SampleTree());
  ExpectRoundTrip(std::optional<std::vector<ConsoleAddressSession>>(SampleTree()));
  ExpectRoundTrip(ConsoleCacheEntry{"http://example.test/logo.png", 48213, 1700000000, -1, 1700000500, 1800000000});
  ExpectRoundTrip(CacheFigures{1 << 30, 123456789, 4512, 987654321, 1000000});
  ExpectRoundTrip(StatusFigures{12, 345});
  ExpectRoundTrip(SpeedSlots{-1, 0, 1024, 512000, -1});
  ExpectRoundTrip(SampleQuery());
  ExpectRoundTrip(
      std::vector<StatisticsRow>{{"01.02.24", 1000, 200, 3600000, 62.5}, {"Итого", 1600, 320, 7200000, 100}});
  ExpectRoundTrip(ConfigControlValue{"LbInInterface", "", {"192.168.0.1", "10.0.0.1"}, ""});
  ExpectRoundTrip(ConfigControlValue{"EdPasswordAdmin", "secret", {}, "secret2"});
  ExpectRoundTrip(ConfigApplyOutcome{false, "EdHttpPort", {"Ошибка", "Порт занят"}, {{"EdHttpPort", "3128", {}, ""}}});
  ExpectRoundTrip(ConfigEditOutcome{false, {"Предупреждение", "Группа не пуста"}, 42});
  ExpectRoundTrip(SampleRules());
  ExpectRoundTrip(SampleGroup());
  ExpectRoundTrip(std::optional<GroupRecord>(SampleGroup()));
  ExpectRoundTrip(SampleDraft());
  ExpectRoundTrip(std::optional<ConsoleUserDraft>(SampleDraft()));
  ExpectRoundTrip(ConsoleFilterLists{true, {{"ads", 1, 0}, {"*.exe", 3, 1}}, {{"intranet", 9, 0}}});
  ExpectRoundTrip(ConsoleFilterChoice{false, true, FilterAdditionScope::kGroup, "Анна", "Бухгалтерия"});
  ExpectRoundTrip(MailRuleList{{"example.test", "smtp.example.test", 2525, "pop.example.test", 1110, true},
                               {"mail.test", "10.0.0.2", 25, "", 0, false}});
  ExpectRoundTrip(std::vector<PortMapRule>{SamplePortRule("dns"), SamplePortRule("rdp")});
  ExpectRoundTrip(std::vector<UserChoice>{{"  По IP-адресу", ""}, {"Анна (anna)", "anna"}});
  ExpectRoundTrip(std::vector<Ipv4>{0xC0A80001u, 0x7F000001u});
  ExpectRoundTrip(SampleTicket().ticket);
  ExpectRoundTrip(SampleTicket());
  ExpectRoundTrip(std::optional<ConsoleTicket>(SampleTicket()));
  ExpectRoundTrip(TicketEntry{"100", "200,5", "60", "12.5", "0"});
  ExpectRoundTrip(
      SubscriptionOutcome{{false, "Ошибка преобразования", "\"x\"- не число"}, "ADD_TICKET", "ADD_TICKET, anna"});
  ExpectRoundTrip(RebuildProgress{"01-02-24-Brindlex.lgs", 100, 2000, 5100, 90000});
}

TEST(AdminRecords, AnAbsentValueIsOneByteAndAPresentOneStartsWithOne) {
  const std::optional<std::vector<ConsoleAddressSession>> none;
  EXPECT_EQ(Encode(none), std::string(1, '\0'));
  std::optional<GroupRecord> group = SampleGroup();
  ASSERT_TRUE(Decode(Encode(none), group));
  EXPECT_FALSE(group.has_value());
  // A presence byte other than 0 or 1 is no optional.
  std::string bytes = Encode(std::optional<GroupRecord>(SampleGroup()));
  bytes[0] = 2;
  EXPECT_FALSE(Decode(bytes, group));
}

TEST(AdminRecords, EnumsOutsideTheirRangeAreRefused) {
  struct Case {
    std::uint8_t value;
    bool accepted;
  };
  auto decodes = [](auto enumValue, std::uint8_t raw) {
    return Decode(std::string(1, static_cast<char>(raw)), enumValue);
  };
  for (Case c : {Case{0, true}, Case{2, true}, Case{3, false}, Case{255, false}}) {
    EXPECT_EQ(decodes(RebuildView{}, c.value), c.accepted) << int(c.value);
    EXPECT_EQ(decodes(TreeLineKind{}, c.value), c.accepted) << int(c.value);
    EXPECT_EQ(decodes(SpeedSubject{}, c.value), c.accepted) << int(c.value);
    EXPECT_EQ(decodes(FilterAdditionScope{}, c.value), c.accepted) << int(c.value);
    EXPECT_EQ(decodes(StatisticsLevel{}, c.value), c.accepted) << int(c.value);
  }
  // Subjects run from 1 to 3.
  for (Case c : {Case{0, false}, Case{1, true}, Case{3, true}, Case{4, false}}) {
    EXPECT_EQ(decodes(StatisticsSubject{}, c.value), c.accepted) << int(c.value);
  }
  // Inside a record: the query's subject is its first byte.
  std::string query = Encode(SampleQuery());
  query[0] = 9;
  StatisticsQuery decoded;
  EXPECT_FALSE(Decode(query, decoded));
}

TEST(AdminRecords, BooleansOtherThanZeroOrOneAreRefusedInsideRecords) {
  // The filter lists open with their enabled flag.
  std::string lists = Encode(ConsoleFilterLists{true, {}, {}});
  lists[0] = 1;
  ConsoleFilterLists decoded;
  EXPECT_TRUE(Decode(lists, decoded));
  lists[0] = 2;
  EXPECT_FALSE(Decode(lists, decoded));
}

TEST(AdminRecords, AGroupCrossesWithItsStoredDataAndWithoutItsConsoleState) {
  GroupRecord group = SampleGroup();
  group.periodTotals = SampleCounters(3);
  group.speedHistory[0] = 77;
  group.viewFlags = 5;
  GroupRecord decoded;
  ASSERT_TRUE(Decode(Encode(group), decoded));
  EXPECT_EQ(decoded.periodTotals, CounterBlock{});
  EXPECT_EQ(decoded.speedHistory[0], 0);
  EXPECT_EQ(decoded.viewFlags, 0);
  GroupRecord stored = group;
  static_cast<GroupConsoleState&>(stored) = GroupConsoleState{};
  EXPECT_EQ(decoded, stored);
}

TEST(AdminRecords, APortRuleCrossesWithoutItsSocket) {
  PortMapRule rule = SamplePortRule("web");
  rule.socket = std::make_shared<PortMapSocket>(-1);
  PortMapRule decoded;
  ASSERT_TRUE(Decode(Encode(rule), decoded));
  EXPECT_TRUE(Same(decoded, rule));
  EXPECT_EQ(decoded.socket, nullptr);
}

}  // namespace
}  // namespace brindlex::testing
