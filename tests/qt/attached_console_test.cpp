// The console attached to a real gateway (the brindlex executable), as an
// administrator uses it: over the local socket and over TLS it shows a user's
// live transfer on the users and connections pages and ends it with
// "Разорвать соединение"; over TLS it asks for the password and the
// certificate, and a changed certificate is refused until he accepts it.
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>

#include "console/admin_client.h"
#include "console/admin_tls.h"
#include "console/qt/connections_page.h"
#include "console/qt/gateway_link.h"
#include "console/qt/main_form.h"
#include "console/qt/users_page.h"
#include "core/strings.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/qt/attached_gateway.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPassword = "Секрет-42";
constexpr std::size_t kBigFile = 600 * 1024;  // 30 s at the origin's rate

// A download through the gateway that the origin keeps slow.
struct SlowDownload {
  explicit SlowDownload(const ProxyGateway& gateway, int originPort) {
    result = std::async(std::launch::async, [proxy = gateway.Proxy(), originPort] {
      int code = 0;
      const std::string body =
          Curl(proxy, "http://127.0.0.1:" + std::to_string(originPort) + "/slow.bin", &code, "--max-time 60");
      return std::make_pair(code, body.size());
    });
  }
  std::future<std::pair<int, std::size_t>> result;
};

class AttachedConsole : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    origin_ = new NginxOrigin;
    origin_->extraServerConfig = "location = /slow.bin { limit_rate 20k; }";
    origin_->Serve("slow.bin", std::string(kBigFile, 'b'));
    ASSERT_TRUE(origin_->Start());
    adminPort_ = FreePort();
    gateway_ = new ProxyGateway("EnableLoopbackTargets=1\r\nAdminPort=" + std::to_string(adminPort_) +
                                    "\r\nPasswordAdmin=" + kPassword + "\r\n",
                                AccountSections({AddressUser("127.0.0.1", "Desk")}));
    ASSERT_TRUE(gateway_->started) << gateway_->process->Output();
    config_ = gateway_->home + "/console-config";
    ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete gateway_;
    delete origin_;
  }

  // Shows a live transfer on both pages and ends it from the connections
  // page, as the administrator would.
  static void SeeTheTransferAndEndIt(GatewayLink& link) {
    TMainFormBX form(link.Engine(), MainFormCommands{});
    link.Attach(form);
    form.resize(1000, 620);
    form.show();
    ASSERT_TRUE(PumpUntil([&] { return link.Client().State().up; })) << link.Client().State().lastError;
    SlowDownload download(*gateway_, origin_->port());

    // The users page: Desk's row counts what he has received so far.
    auto* table = form.Users()->findChild<QTableWidget*>();
    const auto receivedSoFar = [&]() -> std::string {
      form.Users()->Rebuild();
      for (int row = 0; row < table->rowCount(); ++row)
        if (table->item(row, 0) != nullptr && table->item(row, 0)->text().contains("Desk"))
          return table->item(row, 4) != nullptr ? table->item(row, 4)->text().toStdString() : "";
      return "";
    };
    EXPECT_TRUE(PumpUntil([&] {
      const std::string text = receivedSoFar();
      return !text.empty() && text.find_first_of("123456789") != std::string::npos;
    })) << receivedSoFar();

    // The connections page: the download's line under Desk's session.
    ConnectionsPage* page = form.Connections();
    form.Pages()->setCurrentWidget(page);
    int line = -1;
    ASSERT_TRUE(PumpUntil([&] {
      const auto& lines = page->Tree().Lines();
      for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == TreeLineKind::kConnection && lines[i].text.find("slow.bin") != std::string::npos)
          line = static_cast<int>(i);
      return line >= 0;
    }));
    QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(60, line * kTreeLineHeight + kTreeLineHeight / 2));
    ASSERT_TRUE(page->ActionButton()->isVisible());
    EXPECT_EQ(page->ActionButton()->text().toStdString(), Str(27));
    page->ActionButton()->click();

    // The transfer ends long before the origin would have finished it.
    ASSERT_TRUE(PumpUntil([&] { return download.result.wait_for(0s) == std::future_status::ready; }, 20s));
    const auto [code, bytes] = download.result.get();
    EXPECT_NE(code, 0);
    EXPECT_LT(bytes, kBigFile);
    link.Detach();
  }

  static inline NginxOrigin* origin_ = nullptr;
  static inline ProxyGateway* gateway_ = nullptr;
  static inline int adminPort_ = 0;
  static inline std::string config_;
};

TEST_F(AttachedConsole, OverTheLocalSocketItShowsATransferAndEndsIt) {
  ConsoleTarget target;
  target.folder = gateway_->home;
  GatewayLink link(target);
  SeeTheTransferAndEndIt(link);
  EXPECT_NE(link.Client().State().gatewayHost, "");
}

TEST_F(AttachedConsole, OverTlsItAsksForThePasswordAndTheCertificateThenWorksTheSame) {
  Answers answers(kPassword);
  const ConsoleTarget target = *ParseRemoteTarget("127.0.0.1:" + std::to_string(adminPort_));
  {
    GatewayLink link(target);
    SeeTheTransferAndEndIt(link);
  }
  ASSERT_EQ(answers.questions.size(), 1u);
  // The question names the fingerprint the gateway prints for comparison.
  const std::string fingerprint = AdminFingerprint(gateway_->home).value_or("");
  ASSERT_FALSE(fingerprint.empty());
  EXPECT_NE(answers.questions[0].find(fingerprint), std::string::npos) << answers.questions[0];
  EXPECT_EQ(answers.passwordsAsked, 1);

  // Pinned now: a second console asks only for the password.
  {
    GatewayLink again(target);
    TMainFormBX form(again.Engine(), MainFormCommands{});
    again.Attach(form);
    EXPECT_TRUE(PumpUntil([&] { return again.Client().State().up; })) << again.Client().State().lastError;
    again.Detach();
  }
  EXPECT_EQ(answers.questions.size(), 1u);
}

TEST_F(AttachedConsole, AChangedCertificateIsRefusedUntilTheAdministratorAcceptsIt) {
  Answers answers(kPassword);
  const ConsoleTarget target = *ParseRemoteTarget("127.0.0.1:" + std::to_string(adminPort_));
  GatewayLink link(target);
  TMainFormBX form(link.Engine(), MainFormCommands{});
  link.Attach(form);
  ASSERT_TRUE(PumpUntil([&] { return link.Client().State().up; })) << link.Client().State().lastError;
  const std::size_t asked = answers.questions.size();
  const int passwordsAsked = answers.passwordsAsked;

  // The gateway gets a new key (restored from a backup without it, say).
  ASSERT_EQ(gateway_->process->Stop(SIGTERM), 0) << gateway_->process->Output();
  std::filesystem::remove(gateway_->home + "/admin.key");
  std::filesystem::remove(gateway_->home + "/admin.crt");
  answers.trust = false;
  gateway_->process = std::make_unique<GatewayProcess>(gateway_->home);
  gateway_->process->Start();
  ASSERT_TRUE(PumpUntil([&] { return answers.questions.size() > asked; }, 20s)) << gateway_->process->Output();
  // The warning names the pinned fingerprint and the new one.
  const std::string changed = answers.questions.back();
  EXPECT_NE(changed.find(Str(1331)), std::string::npos) << changed;
  EXPECT_NE(changed.find(AdminFingerprint(gateway_->home).value_or("none")), std::string::npos) << changed;
  QTest::qWait(300);
  EXPECT_FALSE(link.Client().State().up);
  EXPECT_TRUE(link.Engine().Users().users.empty());

  answers.trust = true;
  link.Client().Reconnect();
  EXPECT_TRUE(PumpUntil([&] { return link.Client().State().up; }, 20s)) << link.Client().State().lastError;
  EXPECT_FALSE(link.Engine().Users().users.empty());
  // The restarted gateway got the password that had worked, unasked.
  EXPECT_EQ(answers.passwordsAsked, passwordsAsked);
  link.Detach();
}

// Whatever changes the accounts (another console, the command line, SIGHUP)
// shows up in every console attached.
TEST_F(AttachedConsole, AChangeFromOneConsoleOrTheCommandLineShowsInTheOthers) {
  ConsoleTarget target;
  target.folder = gateway_->home;
  GatewayLink editing(target);
  GatewayLink watching(target);
  TMainFormBX form(watching.Engine(), MainFormCommands{});
  watching.Attach(form);
  ASSERT_TRUE(editing.Client().WaitUntilUp(10s));
  ASSERT_TRUE(PumpUntil([&] { return watching.Client().State().up; }));
  auto* table = form.Users()->findChild<QTableWidget*>();
  const auto shows = [&](const QString& name) {
    for (int row = 0; row < table->rowCount(); ++row)
      if (table->item(row, 0) != nullptr && table->item(row, 0)->text().contains(name)) return true;
    return false;
  };
  EXPECT_FALSE(shows("Бухгалтер"));

  ConsoleUserDraft user = *editing.Engine().NewConfigUser(0);
  user.name = "Бухгалтер";
  user.login = "buh";
  user.password = "pw";
  ASSERT_TRUE(editing.Engine().SaveConfigUser(user, std::nullopt).ok);
  EXPECT_TRUE(PumpUntil([&] { return shows("Бухгалтер"); }, 10s));

  // The command line changes the file and sends SIGHUP.
  int code = -1;
  RunProgram("BRINDLEX_HOME=" + gateway_->home + " " + BRINDLEX_BINARY + " user add kassa --password k --name Касса",
             &code);
  ASSERT_EQ(code, 0);
  EXPECT_TRUE(PumpUntil([&] { return shows("Касса"); }, 10s));
  watching.Detach();
}

TEST_F(AttachedConsole, AWrongPasswordIsRefusedAndReported) {
  AdminClientOptions options;
  options.host = "127.0.0.1";
  options.port = adminPort_;
  options.confirmFingerprint = [](const std::string&, const std::string&, bool) { return true; };
  options.password = [] { return std::optional<std::string>("не тот"); };
  AdminClient client(std::move(options));
  EXPECT_TRUE(client.WaitUntilDown(15s));
  EXPECT_FALSE(client.State().up);
  EXPECT_FALSE(client.State().lastError.empty());
  EXPECT_FALSE(client.Call(1, {}));
  EXPECT_TRUE(gateway_->process->WaitForOutput(", 0, admin")) << gateway_->process->Output();
}

}  // namespace
}  // namespace brindlex::testing
