#include "reports/report_schedule.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "reports/koi8r_text.h"
#include "tests/unit/account_world.h"

namespace brindlex::testing {
namespace {

class ReportScheduleTest : public AccountWorld {
 protected:
  void SetUp() override {
    AccountWorld::SetUp();
    EnsureFolder(FormsFolder());
    std::ofstream(FormsFolder() + "/default.fem", std::ios::binary) << "%LOGIN %START_DATE-%END_DATE";
  }
  UserRecord* AddReported(const std::string& login, bool daily, bool monthly) {
    UserRecord* user = AddUser(login);
    std::lock_guard<std::mutex> lock(AccountsLock());
    user->reportEmail = login + "@lan.example";
    user->rules.dailyReport = daily;
    user->rules.monthlyReport = monthly;
    return user;
  }
  void Settle(const std::string& spamTime, int billingDay) {
    ChangeSettings([&](SystemSettings& s) {
      s.SpamTime = spamTime;
      s.DayOfMontCalc = billingDay;
    });
  }
  // The reports of a fresh schedule at that local time.
  std::vector<OutgoingMail> DueAt(std::int64_t localSeconds) {
    SetLocalTime(localSeconds);
    ReportSchedule schedule;
    return schedule.Due(localSeconds);
  }
  static std::vector<std::string> Texts(const std::vector<OutgoingMail>& mails) {
    std::vector<std::string> texts;
    for (const OutgoingMail& mail : mails) texts.push_back(mail.recipient + ": " + mail.text);
    return texts;
  }
};

TEST_F(ReportScheduleTest, AtHalfPastElevenOnTheFourthTheMonthlyReportForBillingDayFive) {
  Settle("23:30", 5);
  AddReported("ann", false, true);
  EXPECT_EQ(Texts(DueAt(LocalSeconds(2026, 12, 4, 23, 30, 0))),
            (std::vector<std::string>{"ann@lan.example: ann 05.11.2026-04.12.2026"}));
  EXPECT_TRUE(DueAt(LocalSeconds(2026, 12, 5, 23, 30, 0)).empty());
  EXPECT_TRUE(DueAt(LocalSeconds(2026, 12, 3, 23, 30, 0)).empty());
}

TEST_F(ReportScheduleTest, AtMidnightStartingTheFirstTheMonthlyReportCoversTheMonthJustEnded) {
  Settle("00:00", 1);
  AddReported("ann", false, true);
  EXPECT_EQ(Texts(DueAt(LocalSeconds(2026, 12, 1, 0, 0, 0))),
            (std::vector<std::string>{"ann@lan.example: ann 01.11.2026-30.11.2026"}));
  EXPECT_TRUE(DueAt(LocalSeconds(2026, 12, 2, 0, 0, 0)).empty());
  EXPECT_TRUE(DueAt(LocalSeconds(2026, 11, 30, 0, 0, 0)).empty());
}

TEST_F(ReportScheduleTest, BillingDayTwentyFiveActsAsOne) {
  Settle("00:00", 25);
  AddReported("ann", false, true);
  EXPECT_EQ(DueAt(LocalSeconds(2026, 12, 1, 0, 0, 0)).size(), 1u);
  EXPECT_TRUE(DueAt(LocalSeconds(2026, 12, 25, 0, 0, 0)).empty());
  EXPECT_TRUE(MonthlyReportsDue(LocalSeconds(2026, 11, 30, 22, 0), 22 * 60, 1));
  EXPECT_FALSE(MonthlyReportsDue(LocalSeconds(2026, 12, 1, 22, 0), 22 * 60, 1));
}

TEST_F(ReportScheduleTest, BothFlagsMakeOneMessageOnTheMonthlyDay) {
  Settle("00:00", 1);
  AddReported("ann", true, true);
  AddReported("bob", true, false);
  AddReported("cid", false, false);
  EXPECT_EQ(Texts(DueAt(LocalSeconds(2026, 12, 1, 0, 0, 0))),
            (std::vector<std::string>{"ann@lan.example: ann 01.11.2026-30.11.2026",
                                      "bob@lan.example: bob 01.11.2026-30.11.2026"}));
  // On other days only the daily reports.
  EXPECT_EQ(Texts(DueAt(LocalSeconds(2026, 12, 8, 0, 0, 0))),
            (std::vector<std::string>{"ann@lan.example: ann 01.12.2026-07.12.2026",
                                      "bob@lan.example: bob 01.12.2026-07.12.2026"}));
}

TEST_F(ReportScheduleTest, DeletedUsersAndUsersWithoutAnAddressGetNothing) {
  Settle("12:00", 1);
  UserRecord* gone = AddReported("gone", true, true);
  UserRecord* mute = AddReported("mute", true, true);
  AddReported("ann", true, false);
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    gone->deleted = true;
    mute->reportEmail.clear();
  }
  std::vector<OutgoingMail> mails = DueAt(LocalSeconds(2026, 12, 8, 12, 0, 30));
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].recipient, "ann@lan.example");
}

TEST_F(ReportScheduleTest, OnlyTheFirstTickOfTheMinuteActs) {
  Settle("12:00", 1);
  AddReported("ann", true, false);
  ReportSchedule schedule;
  EXPECT_TRUE(schedule.Due(LocalSeconds(2026, 12, 8, 11, 59, 59)).empty());
  EXPECT_EQ(schedule.Due(LocalSeconds(2026, 12, 8, 12, 0, 0)).size(), 1u);
  EXPECT_TRUE(schedule.Due(LocalSeconds(2026, 12, 8, 12, 0, 1)).empty());
  EXPECT_TRUE(schedule.Due(LocalSeconds(2026, 12, 8, 12, 0, 59)).empty());
  EXPECT_TRUE(schedule.Due(LocalSeconds(2026, 12, 8, 12, 1, 0)).empty());
  EXPECT_EQ(schedule.Due(LocalSeconds(2026, 12, 9, 12, 0, 10)).size(), 1u);
}

TEST_F(ReportScheduleTest, ASpamTimeThatCannotBeReadCountsAsMidnight) {
  Settle("half past", 1);
  AddReported("ann", true, false);
  EXPECT_EQ(DueAt(LocalSeconds(2026, 12, 8, 0, 0, 0)).size(), 1u);
  EXPECT_TRUE(DueAt(LocalSeconds(2026, 12, 8, 12, 30, 0)).empty());
  Settle("7:05", 1);
  EXPECT_EQ(DueAt(LocalSeconds(2026, 12, 8, 7, 5, 0)).size(), 1u);
}

TEST_F(ReportScheduleTest, ARecipientsReportFromHisOwnTemplateKeepsYoAsYeOnlyOnTheWire) {
  Settle("12:00", 1);
  AddReported("ann", true, false);
  std::ofstream(FormsFolder() + "/ann.fem", std::ios::binary) << "Ёлка для %LOGIN";
  std::vector<OutgoingMail> mails = DueAt(LocalSeconds(2026, 12, 8, 12, 0, 0));
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].text, "Ёлка для ann");
  EXPECT_EQ(ToKoi8r(mails[0].text), ToKoi8r("Елка для ann"));
}

}  // namespace
}  // namespace brindlex::testing
