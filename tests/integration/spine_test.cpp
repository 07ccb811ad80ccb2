// The gateway process as a whole: ports, admission, the record limit,
// greetings, shutdown and the single-instance lock.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/integration/harness.h"

namespace brindlex::testing {
namespace {

class GatewayTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int fd : clients_) ::close(fd);
    gateway_.reset();
    if (!home_.empty()) RemoveFolder(home_);
  }

  // Starts the gateway with these "System" lines and waits for its last port.
  void Start(const std::string& systemLines, const std::string& waitFor) {
    home_ = MakeProgramFolder("[System]\r\n" + systemLines);
    gateway_ = std::make_unique<GatewayProcess>(home_);
    gateway_->Start();
    ASSERT_TRUE(gateway_->WaitForOutput(waitFor)) << gateway_->Output();
  }

  int Connect(int port) {
    int fd = ConnectLoopback(port);
    if (fd >= 0) clients_.push_back(fd);
    return fd;
  }

  std::string home_;
  std::unique_ptr<GatewayProcess> gateway_;
  std::vector<int> clients_;
};

std::string OpenLine(const char* service, int port, const char* result) {
  return "Открытие сокета '" + std::string(service) + "', порт=" + std::to_string(port) + "; - " + result;
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

TEST_F(GatewayTest, HttpPortListOpensEachPortUpToTheFirstZero) {
  int a = FreePort(), b = FreePort(), c = FreePort();
  Start("HttpPort=" + std::to_string(a) + "; " + std::to_string(b) + ";0;" + std::to_string(c) + "\r\n",
        OpenLine("HTTP", b, "Ok"));
  EXPECT_GE(Connect(a), 0);
  EXPECT_GE(Connect(b), 0);
  EXPECT_LT(ConnectLoopback(c), 0);
  EXPECT_EQ(Count(gateway_->Output(), "'HTTP'"), 2u);
}

TEST_F(GatewayTest, AtMostTenHttpPortsAndABusyPortDoesNotStopTheOthers) {
  int busy = FreePort();
  int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(busy));
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)), 0);
  ASSERT_EQ(::listen(blocker, 1), 0);

  std::vector<int> ports{busy};
  for (int i = 0; i < 10; ++i) ports.push_back(FreePort());
  std::string list;
  for (int p : ports) list += std::to_string(p) + ";";
  Start("HttpPort=" + list + "\r\n", OpenLine("HTTP", ports[9], "Ok"));
  std::string output = gateway_->Output();
  EXPECT_NE(output.find(OpenLine("HTTP", busy, "Error! Address already in use")), std::string::npos) << output;
  EXPECT_EQ(Count(output, "'HTTP'"), 10u);
  for (int i = 1; i < 10; ++i) EXPECT_GE(Connect(ports[i]), 0) << ports[i];
  EXPECT_LT(ConnectLoopback(ports[10]), 0) << "the eleventh field must not be opened";
  ::close(blocker);
}

TEST_F(GatewayTest, ClientOutsideUsersAddrsIsClosedWithoutAByteAndShownOnceAMinute) {
  int ftp = FreePort();
  Start("HttpPort=" + std::to_string(FreePort()) +
            "\r\nUsersAddrs=10.0.0.1-10.0.0.9\r\nEnableFtp=1\r\nFtpPort=" + std::to_string(ftp) + "\r\n",
        OpenLine("FTP", ftp, "Ok"));
  for (int i = 0; i < 3; ++i) {
    int fd = Connect(ftp);
    ASSERT_GE(fd, 0);
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(fd, 5s, &closed), "");
    EXPECT_TRUE(closed);
  }
  const std::string line = "REFUSED, 127.0.0.1, , 0, \n";
  EXPECT_TRUE(gateway_->WaitForOutput(line)) << gateway_->Output();
  std::this_thread::sleep_for(1500ms);  // the monitor takes refusals once a second
  EXPECT_EQ(Count(gateway_->Output(), line), 1u) << "the other two wait for the minute's summary";
}

TEST_F(GatewayTest, ServicesGreetWithTheirOwnLines) {
  int ftp = FreePort(), smtp = FreePort(), pop3 = FreePort();
  Start("HttpPort=" + std::to_string(FreePort()) + "\r\nEnableFtp=1\r\nFtpPort=" + std::to_string(ftp) +
            "\r\nEnablePost=1\r\nSmtpPort=" + std::to_string(smtp) + "\r\nPop3Port=" + std::to_string(pop3) + "\r\n",
        OpenLine("POP3", pop3, "Ok"));
  const std::pair<int, std::string> expected[] = {
      {ftp, "220 Hi! Welcome on Brindlex!\r\n"},
      {smtp, "220 Brindlex: SMTP service ready\r\n"},
      {pop3, "+OK Brindlex: forward ready\r\n"},
  };
  for (const auto& [port, greeting] : expected) {
    int fd = Connect(port);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadBytes(fd, greeting.size()), greeting);
  }
}

TEST_F(GatewayTest, The501stClientIsAcceptedOnlyAfterARecordIsFreed) {
  int ftp = FreePort();
  // Every client comes from 127.0.0.1: the address may hold them all here.
  Start("HttpPort=" + std::to_string(FreePort()) + "\r\nEnableFtp=1\r\nFtpPort=" + std::to_string(ftp) +
            "\r\nMaxConnectionsPerAddress=600\r\n",
        OpenLine("FTP", ftp, "Ok"));
  const std::string greeting = "220 Hi! Welcome on Brindlex!\r\n";
  for (int i = 0; i < 500; ++i) {
    int fd = Connect(ftp);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ReadBytes(fd, greeting.size()), greeting) << "client " << i;
  }
  int waiting = Connect(ftp);  // lands in the listen backlog
  ASSERT_GE(waiting, 0);
  EXPECT_EQ(ReadBytes(waiting, greeting.size(), 1500ms), "") << "accepted beyond the limit";
  ::close(clients_.front());
  clients_.erase(clients_.begin());
  EXPECT_EQ(ReadBytes(waiting, greeting.size(), 10s), greeting);
}

TEST_F(GatewayTest, SigtermEndsOpenConnectionsAndExitsZero) {
  int ftp = FreePort(), http = FreePort();
  Start("HttpPort=" + std::to_string(http) + "\r\nEnableFtp=1\r\nFtpPort=" + std::to_string(ftp) + "\r\n",
        OpenLine("FTP", ftp, "Ok"));
  std::vector<int> open;
  for (int i = 0; i < 20; ++i) {
    int fd = Connect(ftp);
    ASSERT_GE(fd, 0);
    ReadBytes(fd, 30);
    open.push_back(fd);
  }
  // HTTP clients that have not sent their request yet wait longest.
  for (int i = 0; i < 20; ++i) {
    int fd = Connect(http);
    ASSERT_GE(fd, 0);
    if (i % 2) SendAll(fd, "GET http://127.0.0.1/ HT");
    open.push_back(fd);
  }
  EXPECT_EQ(gateway_->Stop(SIGTERM), 0) << gateway_->Output();
  for (int fd : open) {
    bool closed = false;
    ReadUntilClosed(fd, 2s, &closed);
    EXPECT_TRUE(closed);
  }
}

TEST_F(GatewayTest, SecondCopyOnTheSameFolderSaysSoAndLeavesTheFirstAlone) {
  int ftp = FreePort();
  Start("HttpPort=" + std::to_string(FreePort()) + "\r\nEnableFtp=1\r\nFtpPort=" + std::to_string(ftp) + "\r\n",
        OpenLine("FTP", ftp, "Ok"));
  GatewayProcess second(home_);
  second.Start();
  EXPECT_TRUE(second.WaitForOutput("Приложение \"Brindlex\" уже запущено!"));
  EXPECT_EQ(second.Stop(0), 0);
  int fd = Connect(ftp);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ReadBytes(fd, 30), "220 Hi! Welcome on Brindlex!\r\n");
  EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}

TEST_F(GatewayTest, AGatewayThatCouldOpenNoPortSaysWhyAndExitsOne) {
  int busy = 0;
  int blocker = ListenOnLoopback(1, busy);  // a port surely busy now
  ASSERT_GE(blocker, 0);
  home_ = MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(busy) + "\r\n");
  gateway_ = std::make_unique<GatewayProcess>(home_);
  gateway_->Start();
  EXPECT_TRUE(gateway_->WaitForOutput(OpenLine("HTTP", busy, "Error! Address already in use"))) << gateway_->Output();
  EXPECT_TRUE(gateway_->WaitForOutput("Не открыт ни один порт")) << gateway_->Output();
  EXPECT_EQ(gateway_->Stop(0), 1);
  ::close(blocker);
}

TEST_F(GatewayTest, AProgramFolderThatDoesNotExistIsAnErrorNotASecondCopy) {
  GatewayProcess gateway("/tmp/brindlex-test-no-such-folder/home");
  gateway.Start();
  EXPECT_TRUE(gateway.WaitForOutput("No such file or directory")) << gateway.Output();
  EXPECT_EQ(gateway.Output().find("уже запущено"), std::string::npos) << gateway.Output();
  EXPECT_EQ(gateway.Stop(0), 1) << "a supervisor must see the failure";
}

TEST_F(GatewayTest, GarbageSettingsFileStartsWithDefaults) {
  int http = FreePort();
  // Binary garbage first, then a readable HttpPort the test can reach.
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
  home_ = MakeProgramFolder(garbage + "\n[System]\nHttpPort=" + std::to_string(http) + "\n");
  gateway_ = std::make_unique<GatewayProcess>(home_);
  gateway_->Start();
  ASSERT_TRUE(gateway_->WaitForOutput(OpenLine("HTTP", http, "Ok"))) << gateway_->Output();
  EXPECT_EQ(Count(gateway_->Output(), "Открытие сокета"), 1u) << "only HTTP is on by default";
  EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace brindlex::testing
