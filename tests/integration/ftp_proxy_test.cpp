// The FTP proxy on the gateway's FTP port against a real FTP server on
// loopback: the login forms, the relay (multi-line replies reach the client
// as their last line), passive and active data channels through the gateway
// (also curl's extended ones, EPSV and EPRT, and a PASV sent ahead of the
// answer to an earlier command), the refusal of data ports naming another
// host however the command is written and of a stranger at a passive data
// port, and the accounting of control and data connections for the same user.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "core/clock.h"
#include "core/log_files.h"
#include "core/schedule.h"
#include "core/users.h"
#include "tests/integration/account_sections.h"
#include "tests/integration/ftp_origin.h"
#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

const std::string kGreeting = "220 Hi! Welcome on Brindlex!\r\n";

std::string Ask(int fd, const std::string& command) {
  SendAll(fd, command + "\r\n");
  return ReadCrLfLine(fd);
}

// 125 when the data connection is already open, else 150.
bool TransferStarts(const std::string& reply) { return reply.rfind("125 ", 0) == 0 || reply.rfind("150 ", 0) == 0; }

// "h1,h2,h3,h4,p1,p2" of a 227 line: the port.
int PassivePort(const std::string& line) {
  size_t open = line.find('(');
  if (open == std::string::npos) return -1;
  int numbers[6] = {};
  if (std::sscanf(line.c_str() + open + 1, "%d,%d,%d,%d,%d,%d", &numbers[0], &numbers[1], &numbers[2], &numbers[3],
                  &numbers[4], &numbers[5]) != 6)
    return -1;
  return numbers[4] * 256 + numbers[5];
}

class FtpProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    origin_.MakeFolder("pub");
    origin_.Serve("pub/file.bin", file_);
    ASSERT_TRUE(origin_.Start()) << origin_.Log();
  }
  void StartGateway(const std::string& lines, const std::string& sections = "") {
    gateway_ =
        std::make_unique<ProxyGateway>("EnableFtp=1\r\nFtpPort=" + std::to_string(ftpPort_) + "\r\n" + lines, sections);
    ASSERT_TRUE(gateway_->started) << gateway_->process->Output();
    ASSERT_TRUE(gateway_->process->WaitForOutput("'FTP', порт=" + std::to_string(ftpPort_) + "; - Ok"))
        << gateway_->process->Output();
  }
  std::string Server() const { return "127.0.0.1:" + std::to_string(origin_.port()); }
  // A client logged in through the gateway as the server's anonymous user.
  int LoggedIn() {
    int fd = ConnectLoopback(ftpPort_);
    EXPECT_EQ(ReadCrLfLine(fd), kGreeting);
    EXPECT_EQ(Ask(fd, "USER anonymous@" + Server()).substr(0, 4), "331 ");
    EXPECT_EQ(Ask(fd, "PASS guest").substr(0, 4), "230 ");
    return fd;
  }

  // curl's download of pub/file.bin through the gateway's FTP port, with the
  // server named in the login; `options` choose the data channel.
  std::string CurlDownload(const std::string& options) {
    const std::string target = gateway_->home + "/download.bin";
    int exitCode = -1;
    std::string output = RunProgram("curl -sS --max-time 20 " + options + " -o '" + target +
                                        "' 'ftp://anonymous%40127.0.0.1%3A" + std::to_string(origin_.port()) +
                                        ":guest@127.0.0.1:" + std::to_string(ftpPort_) + "/pub/file.bin' 2>&1",
                                    &exitCode);
    EXPECT_EQ(exitCode, 0) << output;
    return ReadFile(target);
  }
  // Stops the gateway and adds up what its connection log counts for data
  // records (the bytes the client got).
  long long LoggedDataBytes() {
    EXPECT_EQ(gateway_->process->Stop(), 0) << gateway_->process->Output();
    std::string log = ReadFile(gateway_->home + "/Logging/" + ConnectionLogName(SystemClock().LocalNow()));
    long long bytes = 0;
    for (size_t at = log.find("FTP_DATA, "); at != std::string::npos; at = log.find("FTP_DATA, ", at + 1))
      bytes += std::stoll(std::string(LogField(log.substr(at, log.find('\n', at) - at), 8)));
    return bytes;
  }

  FtpOrigin origin_;
  const std::string file_ = RandomBytes(200000);
  int ftpPort_ = FreePort();
  std::unique_ptr<ProxyGateway> gateway_;
};

TEST_F(FtpProxyTest, UserAtHostLogsInWithoutPassingTheServersGreeting) {
  StartGateway("LocalHosts=127.0.0.1\r\n");
  int fd = ConnectLoopback(ftpPort_);
  EXPECT_EQ(ReadCrLfLine(fd), kGreeting);
  std::string reply = Ask(fd, "USER anonymous@" + Server());
  EXPECT_EQ(reply.substr(0, 4), "331 ") << "the answer to USER, not the server's greeting: " << reply;
  EXPECT_EQ(Ask(fd, "PASS guest").substr(0, 4), "230 ");
  // HELP has a multi-line answer: only its last line comes through.
  EXPECT_EQ(Ask(fd, "HELP"), "214 Help command successful.\r\n");
  EXPECT_EQ(Ask(fd, "PWD"), "257 \"/\" is the current directory.\r\n");
  ::close(fd);
  EXPECT_EQ(origin_.Log().find("Test server ready"), std::string::npos);
}

TEST_F(FtpProxyTest, APassiveTransferRunsThroughTheGateway) {
  StartGateway("LocalHosts=127.0.0.1\r\n");
  int fd = LoggedIn();
  std::string answer = Ask(fd, "PASV");
  ASSERT_EQ(answer.rfind("227 Entering Passive Mode (127,0,0,1,", 0), 0u) << answer;
  int data = ConnectLoopback(PassivePort(answer));
  ASSERT_GE(data, 0);
  EXPECT_EQ(Ask(fd, "TYPE I").substr(0, 4), "200 ");
  EXPECT_TRUE(TransferStarts(Ask(fd, "RETR pub/file.bin")));
  bool closed = false;
  EXPECT_TRUE(ReadUntilClosed(data, std::chrono::seconds(10), &closed) == file_);
  EXPECT_TRUE(closed);
  EXPECT_EQ(ReadCrLfLine(fd).substr(0, 4), "226 ");
  ::close(data);
  ::close(fd);
}

TEST_F(FtpProxyTest, TheLoginHasTheHeadDeadlineAndTheSessionDoesNot) {
  StartGateway("LocalHosts=127.0.0.1\r\nHeadTimeout=1\r\n");
  int silent = ConnectLoopback(ftpPort_);
  EXPECT_EQ(ReadCrLfLine(silent), kGreeting);
  auto start = std::chrono::steady_clock::now();
  bool closed = false;
  ReadUntilClosed(silent, std::chrono::seconds(5), &closed);
  EXPECT_TRUE(closed) << "a client that never logs in is closed";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  ::close(silent);
  int fd = LoggedIn();
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(Ask(fd, "PWD"), "257 \"/\" is the current directory.\r\n") << "a logged-in client may pause";
  ::close(fd);
}

TEST_F(FtpProxyTest, TheClientsPortIsForwardedAsAPortOfTheGateway) {
  StartGateway("LocalHosts=127.0.0.1\r\n");
  int clientPort = 0;
  int listener = ListenOnLoopback(1, clientPort);
  ASSERT_GE(listener, 0);
  int fd = LoggedIn();
  EXPECT_EQ(Ask(fd, "TYPE I").substr(0, 4), "200 ");
  EXPECT_EQ(Ask(fd, "PORT 127,0,0,1," + std::to_string(clientPort / 256) + "," + std::to_string(clientPort % 256)),
            "200 Active data connection established.\r\n");
  EXPECT_TRUE(TransferStarts(Ask(fd, "RETR pub/file.bin")));
  pollfd p{listener, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 10000), 1) << "the gateway connects to the client's port";
  int data = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(data, 0);
  EXPECT_TRUE(ReadUntilClosed(data, std::chrono::seconds(10)) == file_);
  EXPECT_EQ(ReadCrLfLine(fd).substr(0, 4), "226 ");
  ::close(data);
  ::close(listener);
  ::close(fd);
}

TEST_F(FtpProxyTest, APortNamingAnotherHostIsRefused) {
  StartGateway("LocalHosts=127.0.0.1\r\n");
  int fd = LoggedIn();
  EXPECT_EQ(Ask(fd, "PORT 10,1,2,3,19,136"), "500 Error!\r\n");
  bool closed = false;
  ReadUntilClosed(fd, std::chrono::seconds(5), &closed);
  EXPECT_TRUE(closed);
  ::close(fd);
}

TEST_F(FtpProxyTest, AnUnidentifiedClientIsNotLoggedIn) {
  StartGateway("EnableLoopbackTargets=1\r\n");
  int fd = ConnectLoopback(ftpPort_);
  EXPECT_EQ(ReadCrLfLine(fd), kGreeting);
  EXPECT_EQ(Ask(fd, "USER anonymous@" + Server()), "403 User not logged in.\r\n");
  ::close(fd);
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, , 422, ftp://" + Server() + "/\n"))
      << gateway_->process->Output();
  // Anything but USER first is an error.
  fd = ConnectLoopback(ftpPort_);
  EXPECT_EQ(ReadCrLfLine(fd), kGreeting);
  EXPECT_EQ(Ask(fd, "PASV"), "500 Error!\r\n");
  ::close(fd);
}

TEST_F(FtpProxyTest, TheGatewaysLoopbackIsRefusedUnlessAllowed) {
  StartGateway("", AccountSections({LoginUser("bob", "pw")}));
  const std::string before = origin_.Log();
  int fd = ConnectLoopback(ftpPort_);
  EXPECT_EQ(ReadCrLfLine(fd), kGreeting);
  EXPECT_EQ(Ask(fd, "USER bob"), "331 Password required.\r\n");
  EXPECT_EQ(Ask(fd, "PASS pw"), "230 User logged in.\r\n");
  EXPECT_EQ(Ask(fd, "OPEN " + Server()), "500 Traffic is limited\r\n");
  ::close(fd);
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.1, bob, 498, ftp://" + Server() + "/\n"))
      << gateway_->process->Output();
  EXPECT_EQ(origin_.Log(), before) << "the server never heard of it";
}

TEST_F(FtpProxyTest, ControlAndDataAreCountedForTheSameUserAndLogged) {
  StartGateway("EnableLoopbackTargets=1\r\n", AccountSections({LoginUser("bob", "pw")}));
  int fd = ConnectLoopback(ftpPort_);
  EXPECT_EQ(ReadCrLfLine(fd), kGreeting);
  EXPECT_EQ(Ask(fd, "USER bob"), "331 Password required.\r\n");
  EXPECT_EQ(Ask(fd, "PASS pw"), "230 User logged in.\r\n");
  EXPECT_EQ(Ask(fd, "OPEN " + Server()), "220 \r\n") << "the server's own greeting, its last line only";
  EXPECT_EQ(Ask(fd, "USER anonymous").substr(0, 4), "331 ");
  EXPECT_EQ(Ask(fd, "PASS guest").substr(0, 4), "230 ");
  EXPECT_EQ(Ask(fd, "TYPE I").substr(0, 4), "200 ");
  std::string answer = Ask(fd, "PASV");
  int data = ConnectLoopback(PassivePort(answer));
  ASSERT_GE(data, 0) << answer;
  EXPECT_TRUE(TransferStarts(Ask(fd, "RETR pub/file.bin")));
  EXPECT_TRUE(ReadUntilClosed(data, std::chrono::seconds(10)) == file_);
  EXPECT_EQ(ReadCrLfLine(fd).substr(0, 4), "226 ");
  EXPECT_EQ(Ask(fd, "QUIT").substr(0, 4), "221 ");
  ::close(data);
  ::close(fd);
  EXPECT_EQ(gateway_->process->Stop(), 0) << gateway_->process->Output();

  std::string log = ReadFile(gateway_->home + "/Logging/" + ConnectionLogName(SystemClock().LocalNow()));
  size_t control = log.find("FTP_COMM, User bob, bob, 127.0.0.1, ");
  size_t transfer = log.find("FTP_DATA, User bob, bob, 127.0.0.1, ");
  ASSERT_NE(control, std::string::npos) << log;
  ASSERT_NE(transfer, std::string::npos) << log;
  std::string dataLine = log.substr(transfer, log.find('\n', transfer) - transfer);
  EXPECT_GE(std::stoll(std::string(LogField(dataLine, 8))), static_cast<long long>(file_.size())) << dataLine;
  EXPECT_EQ(LogFieldToEnd(dataLine, 10), "ftp://" + Server() + "/pub/file.bin") << dataLine;
}

TEST_F(FtpProxyTest, CurlsExtendedPassiveDownloadRunsThroughTheGatewayAndIsCounted) {
  StartGateway("EnableLoopbackTargets=1\r\n", AccountSections({AddressUser("127.0.0.1", "Loopback")}));
  // curl asks with EPSV first: the gateway answers with a port of its own.
  EXPECT_TRUE(CurlDownload("") == file_);
  EXPECT_GE(LoggedDataBytes(), static_cast<long long>(file_.size())) << "the data went around the gateway";
}

TEST_F(FtpProxyTest, CurlsExtendedActiveDownloadRunsThroughTheGatewayAndIsCounted) {
  StartGateway("EnableLoopbackTargets=1\r\n", AccountSections({AddressUser("127.0.0.1", "Loopback")}));
  // curl names its port with EPRT; the server hears a PORT of the gateway.
  EXPECT_TRUE(CurlDownload("--ftp-port -") == file_);
  EXPECT_GE(LoggedDataBytes(), static_cast<long long>(file_.size())) << "the data went around the gateway";
}

TEST_F(FtpProxyTest, APassiveAnswerAfterAnEarlierCommandsAnswerIsStillTheGateways) {
  StartGateway("LocalHosts=127.0.0.1\r\n");
  int fd = LoggedIn();
  ASSERT_TRUE(SendAll(fd, "TYPE I\r\nPASV\r\n"));
  EXPECT_EQ(ReadCrLfLine(fd).substr(0, 4), "200 ") << "the answer to TYPE passes as it is";
  std::string answer = ReadCrLfLine(fd);
  ASSERT_EQ(answer.rfind("227 Entering Passive Mode (127,0,0,1,", 0), 0u) << "the server's own port: " << answer;
  int data = ConnectLoopback(PassivePort(answer));
  ASSERT_GE(data, 0);
  EXPECT_TRUE(TransferStarts(Ask(fd, "RETR pub/file.bin")));
  EXPECT_TRUE(ReadUntilClosed(data, std::chrono::seconds(10)) == file_);
  EXPECT_EQ(ReadCrLfLine(fd).substr(0, 4), "226 ");
  ::close(data);
  ::close(fd);
}

TEST_F(FtpProxyTest, ADataPortNamingAnotherHostIsRefusedHoweverItIsWritten) {
  StartGateway("LocalHosts=127.0.0.1\r\n");
  for (const char* command : {
           " PORT 127,0,0,2,0,22",                 // a blank before the name
           "port 127,0,0,2,0,22",                  // lower case
           "\xFF\xF4\xFF\xF2PORT 127,0,0,2,0,22",  // Telnet's interrupt and mark before it
           "EPRT |1|127.0.0.2|22|",                // the extended form
           "EPRT !1!127.0.0.2!22!",                // ... with another delimiter
       }) {
    int fd = LoggedIn();
    EXPECT_EQ(Ask(fd, command), "500 Error!\r\n") << command;
    bool closed = false;
    ReadUntilClosed(fd, std::chrono::seconds(5), &closed);
    EXPECT_TRUE(closed) << command;
    ::close(fd);
  }
}

TEST_F(FtpProxyTest, DataPortFormsTheGatewayDoesNotTranslateAreRefusedAndTheDialogueGoesOn) {
  StartGateway("LocalHosts=127.0.0.1\r\n");
  int fd = LoggedIn();
  for (const char* command : {"LPSV", "LPRT 4,4,127,0,0,1,2,19,136", "EPSV ALL", "lpsv"})
    EXPECT_EQ(Ask(fd, command), "502 Command not implemented.\r\n") << command;
  EXPECT_EQ(Ask(fd, "PWD"), "257 \"/\" is the current directory.\r\n");
  ::close(fd);
}

TEST_F(FtpProxyTest, AStrangerAtAPassiveDataPortIsTurnedAwayAndTheClientGetsTheData) {
  StartGateway("LocalHosts=127.0.0.1\r\n");
  int fd = LoggedIn();
  std::string answer = Ask(fd, "PASV");
  int port = PassivePort(answer);
  ASSERT_GT(port, 0) << answer;
  int stranger = ConnectLoopbackFrom(0x7F000002, port);
  ASSERT_GE(stranger, 0);
  bool closed = false;
  EXPECT_EQ(ReadUntilClosed(stranger, std::chrono::seconds(5), &closed), "");
  EXPECT_TRUE(closed) << "the stranger was let in";
  ::close(stranger);
  EXPECT_TRUE(gateway_->process->WaitForOutput("REFUSED, 127.0.0.2, , 0, ftp://" + Server() + "/\n"))
      << gateway_->process->Output();
  int data = ConnectLoopback(port);
  ASSERT_GE(data, 0) << "the port closed with the stranger";
  EXPECT_EQ(Ask(fd, "TYPE I").substr(0, 4), "200 ");
  EXPECT_TRUE(TransferStarts(Ask(fd, "RETR pub/file.bin")));
  EXPECT_TRUE(ReadUntilClosed(data, std::chrono::seconds(10)) == file_);
  EXPECT_EQ(ReadCrLfLine(fd).substr(0, 4), "226 ");
  ::close(data);
  ::close(fd);
}

}  // namespace
}  // namespace brindlex::testing
