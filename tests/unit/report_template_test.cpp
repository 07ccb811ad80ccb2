#include "reports/report_template.h"

#include <gtest/gtest.h>
#include <string>

#include "core/display_forms.h"
#include "tests/unit/account_world.h"

namespace brindlex::testing {
namespace {

class ReportTemplateTest : public AccountWorld {
 protected:
  void SetUp() override {
    AccountWorld::SetUp();
    EnsureFolder(FormsFolder());
    subject_.login = "ivan";
    subject_.name = "Иван Петров";
  }
  void Change(const std::function<void(SystemSettings&)>& change) { ChangeSettings(change); }
  std::string Expand(std::string_view text) { return ExpandReportTemplate(text, subject_, clock_.LocalNow()); }
  void WriteForm(const std::string& name, const std::string& text) {
    std::ofstream(FormsFolder() + "/" + name, std::ios::binary) << text;
  }

  ReportSubject subject_;
};

TEST_F(ReportTemplateTest, OneAndAHalfMegabytesShowAsOnePointFive) {
  subject_.day.outgoing = 1536 * 1024;
  EXPECT_EQ(Expand("%SEND_DAY_MB"), "1.5");
  EXPECT_EQ(Expand("%SEND_DAY"), "1536 (1.5)");
  EXPECT_EQ(Expand("%SEND_DAY_KB"), "1536");
  EXPECT_EQ(Expand("%SEND_DAY_BT"), "1572864");
}

TEST_F(ReportTemplateTest, MacroNamesIgnoreCase) {
  subject_.day.outgoing = 1536 * 1024;
  EXPECT_EQ(Expand("kb=%send_day_kb, login=%Login."), "kb=1536, login=ivan.");
}

TEST_F(ReportTemplateTest, EveryTrafficFigureIsCorrectedAndUsesKbPerMb) {
  Change([](SystemSettings& s) {
    s.CorrectTraffic = 10;
    s.KbPerMb = 1000;
  });
  subject_.day = {0, 1000, 2048000, 0, 0};
  subject_.month = {0, 3000, 4096000, 0, 0};
  EXPECT_EQ(Expand("%SEND_DAY_BT %RECEIVED_DAY_BT %SEND_MONTH_BT %RECEIVED_MONTH_BT"), "1100 2252800 3300 4505600");
  // 2 252 800 bytes are 2 200 KB and 2.2 MB of 1000 KB.
  EXPECT_EQ(Expand("%RECEIVED_DAY_KB|%RECEIVED_DAY_MB|%RECEIVED_DAY"), "2200|2.2|2200 (2.2)");
  EXPECT_EQ(Expand("%RECEIVED_MONTH_KB|%RECEIVED_MONTH_MB|%RECEIVED_MONTH"), "4400|4.4|4400 (4.4)");
  EXPECT_EQ(Expand("%SEND_MONTH_KB|%SEND_MONTH_MB|%SEND_MONTH"), "3|0|3 (0)");
}

TEST_F(ReportTemplateTest, TimeAndMoney) {
  Change([](SystemSettings& s) { s.KbPerMb = 1000; });
  const std::int64_t unit = 1000 * 1024000;  // one currency unit, scaled
  subject_.day = {90061000, 0, 0, unit * 5 / 2, unit / 4};
  subject_.month = {3600000, 0, 0, unit * 12, unit * 3 / 100};
  EXPECT_EQ(Expand("%TIME_DAY %TIME_MONTH"), "25:01:01 1:00:00");
  EXPECT_EQ(Expand("%MONEY_CURR_DAY %MONEY_ROUBL_DAY %MONEY_CURR_MONTH %MONEY_ROUBL_MONTH"), "2.5 0.25 12 0.03");
}

TEST_F(ReportTemplateTest, NamesDatesAndTheAdministrator) {
  SetLocalTime(LocalSeconds(2026, 12, 7, 9, 5, 3));
  Change([](SystemSettings& s) {
    s.NameAdmin = "Сисадмин";
    s.EMailAdmin = "admin@lan.example";
    s.DayOfMontCalc = 5;
  });
  EXPECT_EQ(Expand("%DISPL_NAME (%LOGIN): %CUR_DATE %CUR_TIME, %START_DATE-%END_DATE; %ADMIN_NAME <%ADMIN_EMAIL>"),
            "Иван Петров (ivan): 07.12.2026 09:05:03, 05.12.2026-07.12.2026; Сисадмин <admin@lan.example>");
}

TEST_F(ReportTemplateTest, AnEmptyValueLetsOnlyTheLaterMacrosTryTheTextAfterIt) {
  subject_.name.clear();
  EXPECT_EQ(Expand("[%DISPL_NAME]"), "[]");
  // %CUR_DATE comes after %DISPL_NAME in the table, %LOGIN before it.
  EXPECT_EQ(Expand("%DISPL_NAME%CUR_DATE"), "07.12.2026");
  EXPECT_EQ(Expand("%DISPL_NAME%LOGIN"), "%LOGIN");
}

TEST_F(ReportTemplateTest, AMissingValueMarkPrintsNothing) {
  subject_.day.outgoing = kNoValue;
  subject_.day.timeMs = kNoValue;
  EXPECT_EQ(Expand("<%SEND_DAY_BT><%TIME_DAY>"), "<><>");
}

TEST_F(ReportTemplateTest, TextAroundMacrosAndUnknownNamesPassUnchanged) {
  EXPECT_EQ(Expand("100% готово, %UNKNOWN и %LOGI%"), "100% готово, %UNKNOWN и %LOGI%");
  EXPECT_EQ(Expand(""), "");
  EXPECT_EQ(Expand("%"), "%");
}

TEST(ReportDates, AtHalfPastElevenOnTheFourthWithBillingDayFive) {
  ReportDates dates = ReportDatesAt(LocalSeconds(2026, 12, 4, 23, 30), 5);
  EXPECT_EQ(FormatShortDate(dates.end), "04.12.2026");
  EXPECT_EQ(FormatShortDate(dates.start), "05.11.2026");
}

TEST(ReportDates, AtMidnightStartingTheFirstTheMonthJustEnded) {
  ReportDates dates = ReportDatesAt(LocalSeconds(2026, 12, 1, 0, 0), 1);
  EXPECT_EQ(FormatShortDate(dates.end), "30.11.2026");
  EXPECT_EQ(FormatShortDate(dates.start), "01.11.2026");
  dates = ReportDatesAt(LocalSeconds(2027, 1, 1, 0, 0, 59), 1);
  EXPECT_EQ(FormatShortDate(dates.end), "31.12.2026");
  EXPECT_EQ(FormatShortDate(dates.start), "01.12.2026");
  // One minute later the day has begun.
  dates = ReportDatesAt(LocalSeconds(2027, 1, 1, 0, 1), 1);
  EXPECT_EQ(FormatShortDate(dates.end), "01.01.2027");
  EXPECT_EQ(FormatShortDate(dates.start), "01.01.2027");
}

TEST_F(ReportTemplateTest, ABillingDayOutsideOneToTwentyCountsAsOne) {
  SetLocalTime(LocalSeconds(2026, 12, 20, 10, 0));
  Change([](SystemSettings& s) { s.DayOfMontCalc = 25; });
  EXPECT_EQ(Expand("%START_DATE"), "01.12.2026");
}

TEST_F(ReportTemplateTest, TheUsersOwnTemplateComesBeforeTheDefault) {
  WriteForm("default.fem", "default for %LOGIN");
  EXPECT_EQ(BuildReport(subject_, clock_.LocalNow()), "default for ivan");
  WriteForm("ivan.fem", "own: %DISPL_NAME");
  EXPECT_EQ(BuildReport(subject_, clock_.LocalNow()), "own: Иван Петров");
  // A login that would lead out of Forms has no template of its own.
  subject_.login = "../ivan";
  EXPECT_EQ(BuildReport(subject_, clock_.LocalNow()), "default for ../ivan");
}

TEST_F(ReportTemplateTest, WithoutAnyTemplateTheReportIsEmpty) {
  EXPECT_EQ(BuildReport(subject_, clock_.LocalNow()), "");
}

TEST_F(ReportTemplateTest, ATemplateIsReadUpToItsSizeCap) {
  WriteForm("default.fem", std::string(kMaxTemplateBytes - 6, 'a') + "%LOGIN" + "%LOGIN tail");
  std::string report = BuildReport(subject_, clock_.LocalNow());
  EXPECT_EQ(report, std::string(kMaxTemplateBytes - 6, 'a') + "ivan");
}

TEST_F(ReportTemplateTest, TheSubjectIsCopiedFromTheUser) {
  UserRecord* user = AddUser("olga");
  user->name = "Ольга";
  user->dayCounters.outgoing = 5;
  user->monthCounters.incoming = 7;
  std::lock_guard<std::mutex> lock(AccountsLock());
  ReportSubject subject = ReportSubjectLocked(*user);
  EXPECT_EQ(subject.login, "olga");
  EXPECT_EQ(subject.name, "Ольга");
  EXPECT_EQ(subject.day.outgoing, 5);
  EXPECT_EQ(subject.month.incoming, 7);
}

}  // namespace
}  // namespace brindlex::testing
