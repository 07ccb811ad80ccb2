#include "core/value_codec.h"

#include <gtest/gtest.h>

namespace brindlex {
namespace {

TEST(NumberText, FixedDecimalsThenTrailingZerosAndPointGo) {
  const std::pair<double, const char*> cases[] = {
      {10.00, "10"}, {2.50, "2.5"}, {0.1, "0.1"},     {12.5, "12.5"},
      {3.0, "3"},    {0.004, "0"},  {-1.25, "-1.25"}, {100, "100"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatNumberText(value), text) << value;
  EXPECT_EQ(FormatNumberText(0.0005, 3), "0.001");
  EXPECT_EQ(FormatNumberText(1.23456, 4), "1.2346");
}

TEST(IntegerText, LeadingNumberAnythingElseIsZero) {
  EXPECT_EQ(ParseIntPrefix("42abc"), 42);
  EXPECT_EQ(ParseIntPrefix("  -7"), -7);
  EXPECT_EQ(ParseIntPrefix("abc"), 0);
  EXPECT_EQ(ParseIntPrefix(""), 0);
  EXPECT_EQ(ParseIntPrefix("99999999999999999999999"), INT64_MAX) << "saturates, never overflows";
  std::int64_t value = 0;
  EXPECT_TRUE(ParseWholeInt(" 15 ", value));
  EXPECT_EQ(value, 15);
  EXPECT_FALSE(ParseWholeInt("15x", value));
  EXPECT_FALSE(ParseWholeInt("", value));
  EXPECT_FALSE(ParseWholeInt("-", value));
  double real = 0;
  EXPECT_TRUE(ParseWholeReal("2,5", real));
  EXPECT_DOUBLE_EQ(real, 2.5);
  EXPECT_FALSE(ParseWholeReal("2.5.1x", real));
  EXPECT_DOUBLE_EQ(ParseRealPrefix("0.1MB"), 0.1);
}

TEST(Ipv4Text, EmptyUnparsableOrZeroIsNone) {
  EXPECT_EQ(ParseIpv4("192.168.0.1"), 0xC0A80001u);
  EXPECT_EQ(FormatIpv4(0xC0A80001u), "192.168.0.1");
  for (const char* bad : {"", "0.0.0.0", "1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1..2.3", "1.2.3.4x"})
    EXPECT_EQ(ParseIpv4(bad), kNoAddress) << bad;
}

TEST(ListText, SplitSkipsLeadingBlanksAndEmptiesKeepsTrailingBlanks) {
  EXPECT_EQ(SplitList("8080; 3128"), (std::vector<std::string>{"8080", "3128"}));
  EXPECT_EQ(SplitList(";;  a ;b;; "), (std::vector<std::string>{"a ", "b"}));
  EXPECT_TRUE(SplitList("").empty());
  EXPECT_EQ(JoinList({"a", "b"}), "a; b;") << "each element is followed by \"; \", then trimmed";
  EXPECT_EQ(JoinList({}), "");
}

TEST(RecordText, MissingFieldsReadEmpty) {
  std::string_view record = "name; 12;  flag";
  EXPECT_EQ(RecordField(record, 0), "name");
  EXPECT_EQ(RecordField(record, 1), "12");
  EXPECT_EQ(RecordField(record, 2), "flag");
  EXPECT_EQ(RecordField(record, 3), "");
  EXPECT_EQ(RecordField(record, 50), "");
  EXPECT_EQ(ParseIntPrefix(RecordField(record, 7)), 0);
  EXPECT_EQ(JoinRecord({"a", "", "c"}), "a; ; c");
}

TEST(RecordText, FlagsAndRealsOfFields) {
  std::string_view record = "x; 1; 0; 2x; -1; 12.5; 7; ; abc";
  EXPECT_TRUE(RecordFlag(record, 1));
  EXPECT_FALSE(RecordFlag(record, 2));
  EXPECT_TRUE(RecordFlag(record, 3)) << "any non-zero leading number";
  EXPECT_TRUE(RecordFlag(record, 4));
  EXPECT_FALSE(RecordFlag(record, 7)) << "an empty field";
  EXPECT_FALSE(RecordFlag(record, 20)) << "a missing field";
  EXPECT_EQ(RecordReal(record, 5), 12.5);
  EXPECT_EQ(RecordReal(record, 6), 7);
  EXPECT_EQ(RecordReal(record, 8), 0);
  EXPECT_EQ(RecordReal(record, 20), 0);
  EXPECT_EQ(FlagText(true), "1");
  EXPECT_EQ(FlagText(false), "0");
}

TEST(ScrambledText, RoundTripsAndNeverStoresLineOrRecordBreakers) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    if (b < 1 || b > 4) all.push_back(static_cast<char>(b));
  std::string stored = Scramble(all);
  ASSERT_EQ(stored.size(), all.size() + 1);
  EXPECT_EQ(stored[0], '*');
  for (char c : stored.substr(1)) {
    EXPECT_NE(c, '\0');
    EXPECT_NE(c, ';');
    EXPECT_NE(c, '\n');
    EXPECT_NE(c, '\r');
  }
  EXPECT_EQ(Unscramble(stored), all);
  for (int b = 0; b < 256; ++b) {
    if (b >= 1 && b <= 4) continue;
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Unscramble(Scramble(one)), one) << b;
  }
  EXPECT_EQ(Unscramble("plain"), "plain") << "a value without '*' is used unchanged";
  EXPECT_EQ(Unscramble(""), "");
  EXPECT_NE(Scramble("secret").substr(1), "secret");
}

}  // namespace
}  // namespace brindlex
