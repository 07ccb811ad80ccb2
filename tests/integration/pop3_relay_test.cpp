// The POP3 front end on the gateway's POP3 port against a recording POP3
// stub on loopback: the mailbox name alone reaches the server, the USER
// argument's faults have their own replies, and a server that does not greet
// positively is an error. The mail address identifies the user by the e-mail
// addresses of the user record; the rule of its domain names the server.
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "tests/integration/account_sections.h"
#include "tests/integration/harness.h"
#include "tests/integration/mail_peer.h"

namespace brindlex::testing {
namespace {

const std::string kGreeting = "+OK Brindlex: forward ready\r\n";
const std::string kMistake = "-ERR Brindlex: Mistake of the protocol\r\n";

class Pop3RelayTest : public ::testing::Test {
 protected:
  void StartGateway(const std::string& systemLines = "", const std::string& greeting = "") {
    ASSERT_TRUE(server_.Start("pop3-stub", greeting));
    UserRecord bob = LoginUser("bob", "pw");
    bob.emails = "bob@example.lan";
    mail_ = std::make_unique<MailGateway>(systemLines, "[PostRelays]\r\n" +
                                                           RelayLine("example.lan", "127.0.0.1:1", server_.Address()) +
                                                           "\r\n" + AccountSections({bob}));
    ASSERT_TRUE(mail_->started) << mail_->gateway->process->Output();
  }
  int Client() {
    if (!mail_ || !mail_->started) {
      ADD_FAILURE() << "no gateway";
      return -1;
    }
    int fd = ConnectLoopback(mail_->pop3Port);
    EXPECT_EQ(ReadLine(fd), kGreeting);
    return fd;
  }
  // The reply to one first line, and whether the gateway closed after it.
  std::string Refusal(const std::string& line) {
    int fd = Client();
    std::string reply = Ask(fd, line);
    if (!ClosesWithoutMore(fd)) reply += " (not closed)";
    ::close(fd);
    return reply;
  }

  MailPeer server_;
  std::unique_ptr<MailGateway> mail_;
};

TEST_F(Pop3RelayTest, TheServerOfTheAddressesDomainGetsTheMailboxNameAlone) {
  StartGateway();
  int fd = Client();
  EXPECT_EQ(Ask(fd, "USER box#bob@example.lan\r\n"), "+OK user accepted\r\n")
      << "the server's answer to USER is the first server text the client sees";
  EXPECT_EQ(Ask(fd, "PASS secret\r\n"), "+OK 1 message\r\n");
  EXPECT_EQ(Ask(fd, "QUIT\r\n"), "+OK bye\r\n");
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
  EXPECT_EQ(server_.WaitForLog("QUIT\r\n"), "USER box\r\nPASS secret\r\nQUIT\r\n");
}

TEST_F(Pop3RelayTest, CommandsSentAheadFollowTheUserLine) {
  StartGateway("PostLimiter=%%\r\n");
  int fd = Client();
  SendAll(fd, "user   Box%%bob@example.lan\r\nPASS secret\r\nSTAT\r\n");
  EXPECT_EQ(ReadLine(fd), "+OK user accepted\r\n");
  EXPECT_EQ(ReadLine(fd), "+OK 1 message\r\n");
  EXPECT_EQ(ReadLine(fd), "+OK 1 5\r\n");
  ::close(fd);
  EXPECT_EQ(server_.WaitForLog("STAT\r\n"), "USER Box\r\nPASS secret\r\nSTAT\r\n");
}

TEST_F(Pop3RelayTest, EachFaultOfTheUserArgumentHasItsReply) {
  StartGateway();
  EXPECT_EQ(Refusal("USER box\r\n"), "-ERR Brindlex: Limiter not found\r\n");
  EXPECT_EQ(Refusal("USER box #bob@example.lan\r\n"), "-ERR Brindlex: Limiter not found\r\n");
  EXPECT_EQ(Refusal("USER box#\r\n"), "-ERR Brindlex: E-mail is empty\r\n");
  EXPECT_EQ(Refusal("PASS secret\r\n"), kMistake);
  EXPECT_EQ(Refusal("USER " + std::string(263, 'm') + "#bob@example.lan\r\n"), kMistake)
      << "a mailbox name longer than 262 characters";
  EXPECT_EQ(Refusal("USER box#eve@example.lan\r\n"), "-ERR Brindlex: Unauthorized\r\n");
  EXPECT_TRUE(mail_->gateway->process->WaitForOutput("REFUSED, 127.0.0.1, eve@example.lan, 422, 127.0.0.1\n"))
      << mail_->gateway->process->Output();
  EXPECT_EQ(server_.Log(), "") << "none of them reached the server";
}

TEST_F(Pop3RelayTest, TheLongestMailboxNameIsTakenAndALineOverTheBufferIsNot) {
  StartGateway();
  const std::string longest(262, 'm');
  int fd = Client();
  EXPECT_EQ(Ask(fd, "USER " + longest + "#bob@example.lan\r\n"), "+OK user accepted\r\n");
  ::close(fd);
  EXPECT_EQ(server_.WaitForLog("\r\n"), "USER " + longest + "\r\n");
  fd = Client();
  SendAll(fd, "USER box#bob@example.lan" + std::string(9000, 'x'));
  EXPECT_EQ(ReadLine(fd), kMistake);
  EXPECT_TRUE(ClosesWithoutMore(fd));
  ::close(fd);
  EXPECT_EQ(server_.Log(), "USER " + longest + "\r\n");
}

TEST_F(Pop3RelayTest, AServerGreetingWithErrGivesErrorConnected) {
  StartGateway("", "-ERR maintenance");
  EXPECT_EQ(Refusal("USER box#bob@example.lan\r\n"), "-ERR Brindlex: Error connected\r\n");
  EXPECT_EQ(server_.Log(), "") << "USER never went to it";
}

TEST(Pop3RelayServers, AServerThatClosesBeforeItsGreetingGivesErrorConnectedOnce) {
  for (const std::string& sent : {std::string(), std::string("+OK half a greet")}) {
    int port = 0;
    int listener = ListenOnLoopback(1, port);
    ASSERT_GE(listener, 0);
    std::thread server = ServerThatCloses(listener, sent);
    UserRecord bob = LoginUser("bob", "pw");
    bob.emails = "bob@example.lan";
    MailGateway mail("", "[PostRelays]\r\n" +
                             RelayLine("example.lan", "127.0.0.1:1", "127.0.0.1:" + std::to_string(port)) + "\r\n" +
                             AccountSections({bob}));
    ASSERT_TRUE(mail.started) << mail.gateway->process->Output();
    int fd = ConnectLoopback(mail.pop3Port);
    EXPECT_EQ(ReadLine(fd), kGreeting);
    SendAll(fd, "USER box#bob@example.lan\r\n");
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(fd, std::chrono::seconds(5), &closed), "-ERR Brindlex: Error connected\r\n")
        << "after '" << sent << "'";
    EXPECT_TRUE(closed);
    ::close(fd);
    server.join();
    ::close(listener);
  }
}

}  // namespace
}  // namespace brindlex::testing
