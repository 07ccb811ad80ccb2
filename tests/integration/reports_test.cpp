// E-mail reports end to end: the real gateway mails a user's report at
// SpamTime to a real mail server on loopback, in KOI8-R with the macros
// filled, and an unreachable server fails the batch and counts it.
//
// SpamTime is set to the minute the gateway starts in: the first tick of a
// run acts on its minute, so no test waits for the clock.

#include <signal.h>

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "core/clock.h"
#include "core/display_forms.h"
#include "core/log_files.h"
#include "core/users.h"
#include "reports/koi8r_text.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/mail_sink.h"

namespace brindlex::testing {
namespace {

// "hh:mm" of a minute with time enough left in it for the gateway to start;
// waits for the next minute when the current one is nearly over.
std::string SpamTimeOfStartMinute() {
  std::int64_t now = SystemClock().LocalNow();
  if (now % 60 > 40) {
    std::this_thread::sleep_for(std::chrono::seconds(61 - now % 60));
    now = SystemClock().LocalNow();
  }
  std::tm tm = LocalTm(now);
  char text[8];
  std::snprintf(text, sizeof(text), "%02d:%02d", tm.tm_hour, tm.tm_min);
  return text;
}

UserRecord ReportedUser() {
  UserRecord ann = LoginUser("ann", "pw");
  ann.name = "Анна Ёжикова";
  ann.reportEmail = "ann@lan.example";
  ann.rules.dailyReport = true;
  return ann;
}

struct ReportGateway {
  ReportGateway(int smtpPort, const std::string& template_) {
    port = FreePort();
    std::string spamTime = SpamTimeOfStartMinute();
    home = MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(port) +
                             "\r\nSpamServer=127.0.0.1\r\nSpamPort=" + std::to_string(smtpPort) +
                             "\r\nEMailAdmin=gate@lan.example\r\nNameAdmin=Шлюз Ёлкино\r\nSpamTime=" + spamTime +
                             "\r\n" + AccountSections({ReportedUser()}));
    WriteFile(home + "/Forms/ann.fem", template_);
    // Today's traffic, from which the gateway rebuilds the day's figures.
    std::int64_t now = SystemClock().LocalNow();
    WriteFile(SessionLogIn(now), "U, ann, 127.0.0.1, " + FormatLogTimeStamp(now - 60) + ", 1000, 2048, " +
                                     std::to_string(1536 * 1024) + ", 0, 0\n");
    process = std::make_unique<GatewayProcess>(home);
    process->Start();
    started = process->WaitForOutput(HttpOpenLine(port));
  }
  ~ReportGateway() {
    process.reset();
    RemoveFolder(home);
  }
  std::string SessionLogIn(std::int64_t now) const { return home + "/Logging/" + SessionLogName(now); }

  int port;
  std::string home;
  std::unique_ptr<GatewayProcess> process;
  bool started = false;
};

TEST(ReportsTest, TheReportArrivesInKoi8rWithItsMacrosFilled) {
  MailSink sink;
  ASSERT_TRUE(sink.Start());
  ReportGateway gateway(sink.port(),
                        "Ёлка для %LOGIN (%DISPL_NAME) на %CUR_DATE: %SEND_DAY, пишите %ADMIN_EMAIL\n"
                        "вторая строка\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string today = FormatShortDate(SystemClock().LocalNow());
  ASSERT_TRUE(sink.WaitForMessages(1, std::chrono::seconds(20))) << gateway.process->Output();
  EXPECT_TRUE(gateway.process->WaitForOutput("SMTP: Ошибок: 0.")) << gateway.process->Output();

  std::string message = sink.Messages().at(0);
  EXPECT_NE(message.find("X-Greeting: gate\r\n"), std::string::npos) << message;
  EXPECT_NE(message.find("X-Envelope-From: gate@lan.example\r\n"), std::string::npos) << message;
  EXPECT_NE(message.find("X-Envelope-To: ann@lan.example\r\n"), std::string::npos) << message;
  EXPECT_NE(message.find("\r\nContent-Type: text/plain; charset=koi8-r\r\n"), std::string::npos) << message;
  EXPECT_NE(message.find("\r\nTo: ann@lan.example\r\n"), std::string::npos) << message;
  std::string body = message.substr(message.find("\r\n\r\n") + 4);
  EXPECT_EQ(body, ToKoi8r("Елка для ann (Анна Ежикова) на " + today +
                          ": 1536 (1.5), пишите gate@lan.example\r\nвторая строка\r\n"));
  EXPECT_EQ(body.find("\xA3"), std::string::npos) << "no KOI8-R ё";
  EXPECT_EQ(sink.Messages().size(), 1u);

  std::string output = gateway.process->Output();
  for (const char* status : {"SMTP: Решение имени...", "SMTP: Соединение...", "SMTP: Передача сообщения...",
                             "SMTP: Сообщение отправлено.", "SMTP: Разъединить."})
    EXPECT_NE(output.find(status), std::string::npos) << status << "\n" << output;
  EXPECT_EQ(gateway.process->Stop(SIGTERM), 0);
}

TEST(ReportsTest, AnUnreachableServerFailsTheBatchAndCountsIt) {
  int closedPort = FreePort();
  ReportGateway gateway(closedPort, "%LOGIN\n");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  EXPECT_TRUE(gateway.process->WaitForOutput("SMTP: Ошибка соединения! ", std::chrono::seconds(20)))
      << gateway.process->Output();
  EXPECT_TRUE(gateway.process->WaitForOutput("SMTP: Ошибок: 1.")) << gateway.process->Output();
  EXPECT_EQ(gateway.process->Output().find("SMTP: Сообщение отправлено."), std::string::npos);
  EXPECT_EQ(gateway.process->Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace brindlex::testing
