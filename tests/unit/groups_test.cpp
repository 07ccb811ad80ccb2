#include "core/groups.h"

#include <gtest/gtest.h>

#include "tests/unit/account_test_env.h"

namespace brindlex {
namespace {

using testing::AccountTest;

GroupRecord OfficeGroup() {
  GroupRecord g;
  g.number = 7;
  g.name = "Office";
  g.rules.maxDocumentMb = 1.5;
  g.rules.monthMinutes = 600;
  g.rules.monthMb = 1000.25;
  g.rules.dayMinutes = 60;
  g.rules.dayMb = 100;
  g.rules.dailyReport = true;
  g.schedule = ParseSchedule("10-18/");
  g.rules.speedNormal = 64;
  g.rules.speedExceeded = 8;
  g.tariffIn = 1.234;
  g.tariffOut = 0.5;
  g.tariffHour = 2;
  g.exchangeRate = 30.55;
  g.sessionTimeout = 300;
  g.rules.countOutgoing = true;
  g.rules.allowedAfterExceed = {true, false, false, false, false, true};
  g.rules.bigTransferMb = 50;
  g.rules.bigTransferSpeed = 16;
  g.rules.protocolDenied = {false, true, false, false, true, false};
  g.rules.finishTransfers = true;
  g.rules.countCacheTraffic = true;
  g.rules.dialUpDenied = true;
  return g;
}

TEST(GroupRecordTest, SerialFormKeepsItsFieldOrder) {
  const GroupRecord office = OfficeGroup();
  const std::string text = FormatGroupRecord(office);
  EXPECT_EQ(text,
            "Office; ; 1.5; 600; 1000.25; 60; 100; 1; 0; 10-18///////; 64; 8; 1.234; 0.5; 2; 30.55; 300; 1; 0; "
            "1; 0; 0; 0; 0; 1; 50; 16; 0; 1; 0; 0; 1; 0; 1; 0; 1; 0; 1");
  GroupRecord read;
  read.number = 7;
  ParseGroupRecord(text, read);
  EXPECT_EQ(read, office);
}

TEST(GroupRecordTest, ShortRecordLeavesTheRestEmpty) {
  GroupRecord read = OfficeGroup();
  ParseGroupRecord("Old; ; 5", read);
  GroupRecord expected;
  expected.number = 7;
  expected.name = "Old";
  expected.rules.maxDocumentMb = 5;
  EXPECT_EQ(read, expected);
}

class GroupsTest : public AccountTest {};

TEST_F(GroupsTest, EmptyFileYieldsTheDefaultGroup) {
  LoadFrom("");
  ASSERT_EQ(Groups().size(), 1u);
  const GroupRecord& group = *Groups()[0];
  EXPECT_EQ(group.number, 0u);
  EXPECT_EQ(group.name, "Default");
  EXPECT_EQ(group.schedule, FullSchedule());
  EXPECT_TRUE(group.rules.countOutgoing && group.rules.countIncoming);
  EXPECT_EQ(group, MakeDefaultGroup());
  EXPECT_TRUE(Users().empty());
  EXPECT_EQ(Stored("Groups", "00000000"), FormatGroupRecord(MakeDefaultGroup()));
}

TEST_F(GroupsTest, JunkKeysAndRepeatedNumbersAreSkipped) {
  LoadFrom(
      "[Groups]\r\nabc=Junk\r\n00000002=Two\r\n2=Again\r\n-1=Minus\r\n00000005=Five\r\n"
      "[UsersAddr]\r\ng00000005=10.0.0.1-10.0.0.9\r\n");
  ASSERT_EQ(Groups().size(), 3u);
  EXPECT_EQ(Groups()[0]->name, "Two");
  EXPECT_EQ(Groups()[1]->clientAddresses, "10.0.0.1-10.0.0.9");
  EXPECT_EQ(Groups()[2]->name, "Default");  // recreated: no key named group 0
  EXPECT_EQ(FindGroup(5), Groups()[1].get());
  EXPECT_EQ(FindGroup(4), nullptr);
  EXPECT_EQ(LargestGroupNumber(), 5u);
}

TEST_F(GroupsTest, AtMost500GroupsAndDefaultAmongThem) {
  std::string text = "[Groups]\r\n";
  for (int n = 1; n <= 501; ++n) text += GroupKey(static_cast<std::uint32_t>(n)) + "=G" + std::to_string(n) + "\r\n";
  LoadFrom(text);
  EXPECT_EQ(Groups().size(), kMaxGroups);
  EXPECT_NE(FindGroup(0), nullptr);
  EXPECT_EQ(FindGroup(501), nullptr);
}

TEST_F(GroupsTest, KeyWithoutValueGivesAnEmptyGroup) {
  LoadFrom("[Groups]\r\n00000000=\r\n");
  ASSERT_EQ(Groups().size(), 1u);
  GroupRecord empty;
  EXPECT_EQ(*Groups()[0], empty);
}

}  // namespace
}  // namespace brindlex
