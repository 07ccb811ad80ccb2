#include "http/user_macros.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "core/clock.h"
#include "core/file_io.h"
#include "core/log_files.h"
#include "core/program_folder.h"
#include "core/settings.h"

namespace brindlex {
namespace {

class UserMacros : public ::testing::Test {
 protected:
  void SetUp() override {
    savedSettings_ = *Settings();
    savedFolder_ = ProgramFolder();
    char pattern[] = "/tmp/brindlex-user-macros-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    SetProgramFolder(folder_);
    ASSERT_TRUE(EnsureFolder(LoggingFolder()));
    PublishSettings(SystemSettings{});
    clock_.localBase = clock_.local = LocalSeconds(2026, 3, 4, 12, 0, 0);
    SetProgramClock(&clock_);

    user_.name = "<Bob & Co>";
    user_.login = "bob";
    user_.schedule = FullSchedule();
    user_.schedule[0] = 0;  // Monday 00:00-00:59
    user_.rules.dayMinutes = 60;
    user_.rules.dayMb = 10;
    user_.rules.maxDocumentMb = 2.5;
    user_.rules.speedNormal = 0;
    user_.rules.speedExceeded = 0;
    user_.dayCounters = {15 * 60000, 1024, 3 * 1024 * 1024 / 2, 0, 0};
    user_.monthCounters = {90 * 60000, 4096, 5 * 1024 * 1024, 0, 0};
  }
  void TearDown() override {
    SetProgramClock(nullptr);
    PublishSettings(savedSettings_);
    SetProgramFolder(savedFolder_);
    std::system(("rm -rf '" + folder_ + "'").c_str());
  }

  ManualClock clock_;
  UserRecord user_;
  SystemSettings savedSettings_;
  std::string savedFolder_;
  std::string folder_;
};

TEST_F(UserMacros, NameLimitsAndFiguresOfTheUser) {
  UserMacroTexts texts(user_);
  EXPECT_EQ(texts.Text(UserMacro::Name), "&lt;Bob &amp; Co&gt;");
  EXPECT_EQ(texts.Text(UserMacro::Login), "bob");
  EXPECT_EQ(texts.Text(UserMacro::RestDoc), "2.5");
  EXPECT_EQ(texts.Text(UserMacro::RestDayTime), "60") << "the limit itself, not what is left of it";
  EXPECT_EQ(texts.Text(UserMacro::RestDayMb), "10");
  EXPECT_EQ(texts.Text(UserMacro::RestMonTime), "0") << "no limit set";
  EXPECT_EQ(texts.Text(UserMacro::RestSpeedNorm), "0");
  EXPECT_EQ(texts.Text(UserMacro::RestSpeedEx), "0");
  EXPECT_EQ(texts.Text(UserMacro::StatDayTime), "0:15:00");
  EXPECT_EQ(texts.Text(UserMacro::StatDaySend), "1 (0)");
  EXPECT_EQ(texts.Text(UserMacro::StatDayReceived), "1536 (1.5)");
  EXPECT_EQ(texts.Text(UserMacro::StatMonTime), "1:30:00");
  EXPECT_EQ(texts.Text(UserMacro::StatMonReceived), "5120 (5)");
  EXPECT_EQ(texts.Text(UserMacro::StatMonMoneyC), "0");
}

TEST_F(UserMacros, TheScheduleTableHasAnHourRowAndOneRowADay) {
  std::string table = UserMacroTexts(user_).Text(UserMacro::TableWorkTime);
  EXPECT_EQ(table.substr(0, 25), "<tr><td><td>0<td>1<td>2<t") << table;
  EXPECT_NE(table.find("<td>23<tr><td>Пн<td>-<td>+<td>+"), std::string::npos) << table;
  EXPECT_NE(table.find("<tr><td>Вс<td>+<td>+"), std::string::npos) << table;
  EXPECT_EQ(table.find("</"), std::string::npos) << "cells and rows are not closed";
  size_t rows = 0;
  for (size_t at = table.find("<tr>"); at != std::string::npos; at = table.find("<tr>", at + 1)) ++rows;
  EXPECT_EQ(rows, 8u);
}

TEST_F(UserMacros, TheSharesOfTheLimitsUsedAreWholePercentsAndEmptyWithoutALimit) {
  user_.rules.monthMb = 4;
  user_.rules.monthMinutes = 80;
  UserMacroTexts texts(user_);
  EXPECT_EQ(texts.Text(UserMacro::ShareDayTime), "25");
  EXPECT_EQ(texts.Text(UserMacro::ShareDayMb), "0") << "1.5 MB of 10 counts nothing without a group";
  EXPECT_EQ(texts.Text(UserMacro::ShareMonTime), "112") << "past the limit the share says by how much";
  user_.rules.monthMinutes = 0;
  EXPECT_EQ(UserMacroTexts(user_).Text(UserMacro::ShareMonTime), "");
  EXPECT_EQ(UserMacroTexts(user_).Text(UserMacro::ShareMonMb), "0");
}

TEST_F(UserMacros, TheGroupsScheduleBindsTheUserInTheTable) {
  GroupRecord group;
  group.schedule = FullSchedule();
  group.schedule[6 * kScheduleHoursPerDay] = 0;  // Sunday 00:00-00:59 closed for the whole group
  user_.group = &group;
  std::string table = UserMacroTexts(user_).Text(UserMacro::TableWorkTime);
  EXPECT_NE(table.find("<tr><td>Вс<td>-<td>+"), std::string::npos) << table;
  EXPECT_NE(table.find("<tr><td>Пн<td>-<td>+"), std::string::npos) << table;
  EXPECT_NE(table.find("<tr><td>Вт<td>+<td>+"), std::string::npos) << table;
}

TEST_F(UserMacros, TheDayTableIsTheMonthsStatisticsFromTheLogsWithItsTotals) {
  // Billing from the 1st: the 1st to the 4th of March, the user's lines only.
  WriteFileAtomically(SessionLogPath(LocalSeconds(2026, 3, 2)),
                      "Bob, BOB, 10.0.0.5, 03.02.26, 10:00:00, 61000, 2048, 1024, 0, 0\r\n"
                      "Eve, eve, 10.0.0.6, 03.02.26, 10:00:00, 99000, 99, 99, 0, 0\r\n");
  WriteFileAtomically(SessionLogPath(LocalSeconds(2026, 3, 3)),
                      "Bob, bob, 10.0.0.5, 03.03.26, 11:00:00, 1000, 6144, 0, 0, 0\r\n");
  WriteFileAtomically(SessionLogPath(LocalSeconds(2026, 2, 27)),
                      "Bob, bob, 10.0.0.5, 02.27.26, 10:00:00, 5000, 5, 5, 0, 0\r\n");
  std::string table = UserMacroTexts(user_).Text(UserMacro::TableStatDays);
  EXPECT_EQ(table,
            "<tr><td>День</td><td>Время</td><td>Отправлено </td><td>Получено </td><td>Рейтинг </td></tr>"
            "<tr><td>02.03.2026<td>0:01:01<td>1 (0)<td>2 (0)<td>25"
            "<tr><td>03.03.2026<td>0:00:01<td>0 (0)<td>6 (0.01)<td>75"
            "<tr><td>Всего<td>0:01:02<td>1 (0)<td>8 (0.01)<td>100")
      << "other users, days without figures and days before the billing month are left out";
}

// The user's page shows traffic as the console does, with the overhead the
// limits count: 0.92 MB used must not read as room left under a 1 MB limit
// that is already reached.
TEST_F(UserMacros, TrafficFiguresAndTheDayTableCarryTheOverhead) {
  SystemSettings settings;
  settings.CorrectTraffic = 10;
  PublishSettings(settings);
  user_.dayCounters = {60000, 100 * 1024, 965'000, 0, 0};
  user_.monthCounters = {60000, 1000, 10 * 1024 * 1024, 0, 0};
  WriteFileAtomically(SessionLogPath(LocalSeconds(2026, 3, 3)),
                      "Bob, bob, 10.0.0.5, 03.03.26, 11:00:00, 1000, 965000, 102400, 0, 0\r\n");
  UserMacroTexts texts(user_);
  EXPECT_EQ(texts.Text(UserMacro::StatDayReceived), "1036 (1.01)") << "965 000 + 96 500 bytes";
  EXPECT_EQ(texts.Text(UserMacro::StatDaySend), "110 (0.11)");
  EXPECT_EQ(texts.Text(UserMacro::StatMonReceived), "11264 (11)");
  EXPECT_EQ(texts.Text(UserMacro::StatMonSend), "1 (0)") << "1100 bytes";
  EXPECT_EQ(texts.Text(UserMacro::StatDayTime), "0:01:00") << "time has no overhead";
  EXPECT_EQ(UserMacroTexts(user_).Text(UserMacro::TableStatDays),
            "<tr><td>День</td><td>Время</td><td>Отправлено </td><td>Получено </td><td>Рейтинг </td></tr>"
            "<tr><td>03.03.2026<td>0:00:01<td>110 (0.11)<td>1036 (1.01)<td>100"
            "<tr><td>Всего<td>0:00:01<td>110 (0.11)<td>1036 (1.01)<td>100");
}

}  // namespace
}  // namespace brindlex
