// The SMTP front end on the gateway's SMTP port against mail servers on
// loopback: a real one (aiosmtpd) taking a whole message, and a recording
// stub where the bytes that reach the server must be seen exactly (the
// replayed HELO and MAIL FROM lines, a 4xx greeting, lines at the buffer's
// limit). The sender identifies the user by the e-mail addresses of the user
// record; the rule of the sender's domain names the server.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "core/clock.h"
#include "core/log_files.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/mail_peer.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

const std::string kGreeting = "220 Brindlex: SMTP service ready\r\n";
const std::string kPleased = "250 Brindlex: pleased to meet you\r\n";
const std::string kClientError = "550 Brindlex: Error reply from client\r\n";
const std::string kConnectFailed = "550 Brindlex: Error connected\r\n";

UserRecord MailUser(const std::string& login, const std::string& emails) {
  UserRecord user = LoginUser(login, "pw");
  user.emails = emails;
  return user;
}

class SmtpRelayTest : public ::testing::Test {
 protected:
  void StartGateway(const MailPeer& server, const std::string& systemLines = "") {
    std::string relays = "[PostRelays]\r\n" + RelayLine("example.lan", server.Address(), "127.0.0.1:1") + "\r\n";
    mail_ = std::make_unique<MailGateway>(
        systemLines,
        relays + AccountSections({MailUser("bob", "bob@example.lan; bob@127.0.0.1:" + std::to_string(server.port()))}));
    ASSERT_TRUE(mail_->started) << mail_->gateway->process->Output();
  }
  // A client that has the gateway's greeting.
  int Client() {
    if (!mail_ || !mail_->started) {
      ADD_FAILURE() << "no gateway";
      return -1;
    }
    int fd = ConnectLoopback(mail_->smtpPort);
    EXPECT_EQ(ReadLine(fd), kGreeting);
    return fd;
  }
  std::string Output() const { return mail_->gateway->process->Output(); }

  std::unique_ptr<MailGateway> mail_;
};

TEST_F(SmtpRelayTest, EhloAndMailFromReachTheRulesServerByteForByte) {
  MailPeer server;
  ASSERT_TRUE(server.Start("smtp-stub"));
  // The rule's server is the administrator's choice: its loopback address
  // needs no EnableLoopbackTargets.
  StartGateway(server);
  int fd = Client();
  EXPECT_EQ(Ask(fd, "EHLO  client.lan\r\n"), kPleased);
  EXPECT_EQ(Ask(fd, "mail FROM:  <bob@example.lan> SIZE=10\r\n"), "250 2.1.0 sender ok\r\n")
      << "the server's answer to MAIL FROM is the first server text the client sees";
  EXPECT_EQ(Ask(fd, "RCPT TO:<alice@peer.test>\r\n"), "250 2.1.5 recipient ok\r\n");
  EXPECT_EQ(Ask(fd, "QUIT\r\n"), "221 bye\r\n");
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
  EXPECT_EQ(server.WaitForLog("QUIT\r\n"),
            "EHLO  client.lan\r\nmail FROM:  <bob@example.lan> SIZE=10\r\nRCPT TO:<alice@peer.test>\r\nQUIT\r\n");
  EXPECT_EQ(mail_->gateway->process->Stop(), 0) << Output();
  std::string log = ReadFile(mail_->gateway->home + "/Logging/" + ConnectionLogName(SystemClock().LocalNow()));
  size_t at = log.find("SMTP, User bob, bob, 127.0.0.1, ");
  ASSERT_NE(at, std::string::npos) << log;
  std::string line = log.substr(at, log.find('\n', at) - at);
  // The rule's server text; its port is a field of the rule apart.
  EXPECT_EQ(LogField(line, 6), "127.0.0.1") << line;
  EXPECT_EQ(LogFieldToEnd(line, 10), "127.0.0.1") << line;
  EXPECT_GT(std::stoll(std::string(LogField(line, 8))), 0) << line;
}

TEST_F(SmtpRelayTest, ARealServerTakesAMessageSentPipelined) {
  MailPeer server;
  ASSERT_TRUE(server.Start("smtp"));
  StartGateway(server);
  int fd = Client();
  // Everything up to DATA in one piece: each command is answered in turn,
  // the gateway's own answer to EHLO first.
  SendAll(fd, "EHLO client.lan\r\nMAIL FROM:<bob@example.lan>\r\nRCPT TO:<alice@peer.test>\r\nDATA\r\n");
  EXPECT_EQ(ReadLine(fd), kPleased);
  EXPECT_EQ(ReadLine(fd).substr(0, 4), "250 ");
  EXPECT_EQ(ReadLine(fd).substr(0, 4), "250 ");
  EXPECT_EQ(ReadLine(fd).substr(0, 4), "354 ");
  EXPECT_EQ(Ask(fd, "Subject: through the gateway\r\n\r\nHello, Alice.\r\n.\r\n"),
            "250 Message accepted for delivery\r\n");
  EXPECT_EQ(Ask(fd, "QUIT\r\n").substr(0, 4), "221 ");
  ::close(fd);
  std::string log = server.WaitForLog("Hello, Alice.");
  EXPECT_NE(log.find("FROM bob@example.lan TO alice@peer.test\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Subject: through the gateway"), std::string::npos) << log;
}

TEST_F(SmtpRelayTest, RcptToFirstIsAnErrorAndTheServerHearsNothing) {
  MailPeer server;
  ASSERT_TRUE(server.Start("smtp-stub"));
  StartGateway(server);
  int fd = Client();
  EXPECT_EQ(Ask(fd, "HELO client.lan\r\n"), kPleased);
  EXPECT_EQ(Ask(fd, "RCPT TO:<alice@peer.test>\r\n"), kClientError);
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
  fd = Client();
  EXPECT_EQ(Ask(fd, "MAIL FROM:<bob@example.lan>\r\n"), kClientError) << "HELO or EHLO comes first";
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
  EXPECT_EQ(server.Log(), "");
}

TEST_F(SmtpRelayTest, AServerGreetingWith4xxGivesErrorConnected) {
  MailPeer server;
  ASSERT_TRUE(server.Start("smtp-stub", "421 busy, come back later"));
  StartGateway(server);
  int fd = Client();
  EXPECT_EQ(Ask(fd, "EHLO client.lan\r\n"), kPleased);
  EXPECT_EQ(Ask(fd, "MAIL FROM:<bob@example.lan>\r\n"), kConnectFailed);
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
  EXPECT_EQ(server.Log(), "") << "the server's HELO never came";
}

TEST_F(SmtpRelayTest, AServerThatCannotBeReachedGivesErrorConnected) {
  MailPeer server;
  ASSERT_TRUE(server.Start("smtp-stub"));
  int port = server.port();
  server.Stop();
  StartGateway(server);
  int fd = Client();
  EXPECT_EQ(Ask(fd, "EHLO client.lan\r\n"), kPleased);
  EXPECT_EQ(Ask(fd, "MAIL FROM:<bob@example.lan>\r\n"), kConnectFailed) << "nothing listens on " << port;
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
}

TEST_F(SmtpRelayTest, AnUnknownSenderIsUnauthorizedWithOneMonitorLine) {
  MailPeer server;
  ASSERT_TRUE(server.Start("smtp-stub"));
  StartGateway(server);
  int fd = Client();
  EXPECT_EQ(Ask(fd, "EHLO client.lan\r\n"), kPleased);
  EXPECT_EQ(Ask(fd, "MAIL FROM:<eve@example.lan>\r\n"), "550 Brindlex: Unauthorized\r\n");
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
  EXPECT_TRUE(mail_->gateway->process->WaitForOutput("REFUSED, 127.0.0.1, eve@example.lan, 422, 127.0.0.1\n"))
      << Output();
  EXPECT_EQ(server.Log(), "");
}

TEST_F(SmtpRelayTest, ASenderDomainNamingTheGatewaysLoopbackIsRefusedUnlessAllowed) {
  MailPeer server;
  ASSERT_TRUE(server.Start("smtp-stub"));
  StartGateway(server);
  const std::string sender = "bob@" + server.Address();
  int fd = Client();
  EXPECT_EQ(Ask(fd, "EHLO client.lan\r\n"), kPleased);
  EXPECT_EQ(Ask(fd, "MAIL FROM:<" + sender + ">\r\n"), "550 Brindlex: Traffic is limited\r\n");
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
  EXPECT_TRUE(mail_->gateway->process->WaitForOutput("REFUSED, 127.0.0.1, bob, 498, " + server.Address() + "\n"))
      << Output();
  EXPECT_EQ(server.Log(), "");

  // Allowed, the domain itself is the server, its port taken from the text.
  StartGateway(server, "EnableLoopbackTargets=1\r\n");
  fd = Client();
  EXPECT_EQ(Ask(fd, "EHLO client.lan\r\n"), kPleased);
  EXPECT_EQ(Ask(fd, "MAIL FROM:<" + sender + ">\r\n"), "250 2.1.0 sender ok\r\n");
  ::close(fd);
  EXPECT_EQ(server.WaitForLog(sender + ">\r\n"), "EHLO client.lan\r\nMAIL FROM:<" + sender + ">\r\n");
}

TEST_F(SmtpRelayTest, LinesAtTheBuffersLimitAreTakenAndLongerOnesRefused) {
  MailPeer server;
  ASSERT_TRUE(server.Start("smtp-stub"));
  StartGateway(server);
  // 8191 bytes with the line end: the longest line the gateway takes.
  const std::string longest = "EHLO " + std::string(8191 - 7, 'h') + "\r\n";
  int fd = Client();
  EXPECT_EQ(Ask(fd, longest), kPleased);
  EXPECT_EQ(Ask(fd, "MAIL FROM:<bob@example.lan>\r\n"), "250 2.1.0 sender ok\r\n");
  ::close(fd);
  EXPECT_EQ(server.WaitForLog("MAIL FROM:<bob@example.lan>\r\n"), longest + "MAIL FROM:<bob@example.lan>\r\n");

  // 8192 bytes fill the buffer with no room for more: refused, and what
  // follows is never read as a command.
  fd = Client();
  SendAll(fd, "EHLO " + std::string(8192 - 7, 'h') + "\r\nMAIL FROM:<bob@example.lan>\r\n");
  EXPECT_EQ(ReadLine(fd), kClientError);
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
  fd = Client();
  EXPECT_EQ(Ask(fd, "EHLO client.lan\r\n"), kPleased);
  SendAll(fd, "MAIL FROM:<bob@example.lan>" + std::string(9000, ' '));
  EXPECT_EQ(ReadLine(fd), kClientError) << "a MAIL FROM line that never ends in the buffer";
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
  EXPECT_EQ(server.Log().size(), longest.size() + 29) << "no later connection reached the server";
}

TEST_F(SmtpRelayTest, TheOpeningHasTheHeadDeadlineAndTheRelayDoesNot) {
  MailPeer server;
  ASSERT_TRUE(server.Start("smtp-stub"));
  StartGateway(server, "HeadTimeout=1\r\n");
  int silent = Client();
  EXPECT_EQ(Ask(silent, "EHLO client.lan\r\n"), kPleased);
  auto start = std::chrono::steady_clock::now();
  bool closed = false;
  ReadUntilClosed(silent, std::chrono::seconds(5), &closed);
  EXPECT_TRUE(closed) << "a client that never names its sender is closed";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  ::close(silent);
  int fd = Client();
  EXPECT_EQ(Ask(fd, "EHLO client.lan\r\n"), kPleased);
  EXPECT_EQ(Ask(fd, "MAIL FROM:<bob@example.lan>\r\n"), "250 2.1.0 sender ok\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(Ask(fd, "RCPT TO:<alice@peer.test>\r\n"), "250 2.1.5 recipient ok\r\n") << "a relayed dialogue may pause";
  ::close(fd);
}

TEST_F(SmtpRelayTest, AReloadReplacesTheRules) {
  MailPeer first;
  MailPeer second;
  ASSERT_TRUE(first.Start("smtp-stub", "220 first"));
  ASSERT_TRUE(second.Start("smtp-stub", "220 second"));
  StartGateway(first);
  ASSERT_TRUE(EditAndReload(*mail_->gateway, [&](IniDocument& settings) {
    RemoveSection(settings, "PostRelays");
    SetValue(settings, "PostRelays", "example.lan", RelayValue(second.Address(), "127.0.0.1:1"));
  })) << Output();
  int fd = Client();
  EXPECT_EQ(Ask(fd, "EHLO client.lan\r\n"), kPleased);
  EXPECT_EQ(Ask(fd, "MAIL FROM:<bob@example.lan>\r\n"), "250 2.1.0 sender ok\r\n");
  ::close(fd);
  EXPECT_EQ(second.WaitForLog("MAIL FROM"), "EHLO client.lan\r\nMAIL FROM:<bob@example.lan>\r\n");
  EXPECT_EQ(first.Log(), "");
}

// The server goes away before its greeting is complete: the client hears
// "Error connected" once, and the connection ends.
TEST(SmtpRelayServers, AServerThatClosesBeforeItsGreetingGivesErrorConnectedOnce) {
  for (const std::string& sent : {std::string(), std::string("220 half a greet")}) {
    int port = 0;
    int listener = ListenOnLoopback(1, port);
    ASSERT_GE(listener, 0);
    std::thread server = ServerThatCloses(listener, sent);
    MailGateway mail("", "[PostRelays]\r\n" +
                             RelayLine("example.lan", "127.0.0.1:" + std::to_string(port), "127.0.0.1:1") + "\r\n" +
                             AccountSections({MailUser("bob", "bob@example.lan")}));
    ASSERT_TRUE(mail.started) << mail.gateway->process->Output();
    int fd = ConnectLoopback(mail.smtpPort);
    EXPECT_EQ(ReadLine(fd), kGreeting);
    EXPECT_EQ(Ask(fd, "EHLO client.lan\r\n"), kPleased);
    SendAll(fd, "MAIL FROM:<bob@example.lan>\r\n");
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(fd, std::chrono::seconds(5), &closed), kConnectFailed) << "after '" << sent << "'";
    EXPECT_TRUE(closed);
    ::close(fd);
    server.join();
    ::close(listener);
  }
}

// In a network namespace of its own, where nothing leaves the machine and
// port 25 is free to take: the rule of "localhost" does not serve a sender
// at "LocalHost", so the domain itself is the server, on port 25, which the
// hosts file resolves to the loopback.
std::string OtherCaseInOwnNetwork() {
  MailPeer rule;
  MailPeer standard;
  if (!rule.Start("smtp-stub", "220 rule") || !standard.Start("smtp-stub", "220 standard", 25))
    return "child failed: servers";
  UserRecord bob = LoginUser("bob", "pw");
  bob.emails = "bob@localhost";
  MailGateway mail(
      "EnableLoopbackTargets=1\r\n",
      "[PostRelays]\r\n" + RelayLine("localhost", rule.Address(), "127.0.0.1:1") + "\r\n" + AccountSections({bob}));
  if (!mail.started) return "child failed: gateway\n" + mail.gateway->process->Output();
  int fd = ConnectLoopback(mail.smtpPort);
  std::string replies = ReadLine(fd);
  replies += Ask(fd, "EHLO client.lan\r\n");
  replies += Ask(fd, "MAIL FROM:<bob@LocalHost>\r\n");
  ::close(fd);
  return replies + "standard: " + standard.WaitForLog("MAIL FROM") + "rule: " + rule.Log();
}

TEST(SmtpRelayRules, ADomainInOtherCaseMissesItsRuleAndIsItselfTheServerOnPort25) {
  std::string all = RunInOwnNetwork(OtherCaseInOwnNetwork);
  ASSERT_EQ(all.find("child failed"), std::string::npos) << all;
  EXPECT_EQ(all, kGreeting + kPleased + "250 2.1.0 sender ok\r\nstandard: EHLO client.lan\r\n" +
                     "MAIL FROM:<bob@LocalHost>\r\nrule: ");
}

}  // namespace
}  // namespace brindlex::testing
