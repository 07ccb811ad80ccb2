// The FTP proxy's data channels against loopback sockets, with time moved by
// the fake clock: a passive one waits for its client, an active one for the
// server, kPeerWaitSeconds at most; once the peer has come the transfer takes
// as long as it takes.
#include "ftp/ftp_data_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "core/main_loop.h"
#include "ftp/ftp_proxy.h"
#include "net/protocol_handlers.h"
#include "net/socket_util.h"
#include "net/worker_stacks.h"
#include "net/worker_threads.h"
#include "tests/unit/account_world.h"
#include "tests/unit/loopback_peer.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

constexpr Ipv4 kLoopback = 0x7F000001u;

int AcceptWithin(int listener, std::chrono::milliseconds timeout) {
  pollfd p{listener, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return -1;
  return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

class FtpDataChannelTest : public AccountWorld {
 protected:
  void SetUp() override {
    AccountWorld::SetUp();
    SetMainLoop(&loop_);
    RegisterFtpProxy();
    // The FTP server's data port, and the control connection the client
    // opened to the gateway.
    server_ = OpenSingleAcceptSocket(kLoopback, serverPort_);
    ASSERT_GE(server_, 0);
    int port = 0;
    int gatewayPort = OpenSingleAcceptSocket(kLoopback, port);
    ASSERT_GE(gatewayPort, 0);
    client_ = ConnectTo(port);
    control_ = Connect(nullptr, "127.0.0.1", kServiceFtpControl);
    control_->clientSocket = AcceptWithin(gatewayPort, 2s);
    ::close(gatewayPort);
    ASSERT_GE(control_->clientSocket, 0);
    control_->serverAddress = kLoopback;
    control_->url = "ftp://files.example/";
  }
  void TearDown() override {
    EXPECT_TRUE(WaitUntilNoConnection()) << "the data channel is still open";
    EXPECT_TRUE(WaitUntilNoWorkerThread());
    for (int fd : {server_, client_, serverPeer_, data_})
      if (fd >= 0) ::close(fd);
    RegisterProtocolHandlers(kServiceFtpControl, ProtocolHandlers{});
    RegisterProtocolHandlers(kServiceFtpData, ProtocolHandlers{});
    SetMainLoop(nullptr);
    AccountWorld::TearDown();
  }

  // Opens an active channel toward a client listening on loopback (its end
  // in data_) and returns the port the gateway named in its PORT; 0 when it
  // could not.
  int OpenActive() {
    int clientPort = 0;
    int clientListener = OpenSingleAcceptSocket(kLoopback, clientPort);
    // The control connection to the server, whose local end faces it.
    control_->serverSocket = ConnectTo(serverPort_);
    serverPeer_ = AcceptWithin(server_, 2s);
    std::string command;
    bool opened = clientListener >= 0 && serverPeer_ >= 0 && OpenActiveChannel(*control_, clientPort, command);
    if (opened) data_ = AcceptWithin(clientListener, 2s);
    if (clientListener >= 0) ::close(clientListener);
    auto named = ParsePortArgument(command.substr(std::min<size_t>(command.size(), 5)));
    return opened && data_ >= 0 && named && named->address == kLoopback ? named->port : 0;
  }

  // Time passes far beyond the wait while the transfer runs: the server's
  // bytes before and after a pass of the worker (which ends with the
  // deadline's check) all reach the client.
  void TransferOutlivesTheWait(int serverData) {
    std::this_thread::sleep_for(300ms);
    clock_.Advance(3600 * kPerformanceFrequency);
    ASSERT_EQ(::send(serverData, "da", 2, MSG_NOSIGNAL), 2);
    EXPECT_EQ(Receive(data_, 2), "da");
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(DataChannelOpen()) << "the transfer was closed for time";
    ASSERT_EQ(::send(serverData, "ta", 2, MSG_NOSIGNAL), 2);
    ::close(serverData);
    EXPECT_EQ(Receive(data_), "ta");
  }

  // Opens the channel; false when it could not.
  bool Open() {
    if (!OpenPassiveChannel(*control_, serverPort_, listening_)) return false;
    serverPeer_ = AcceptWithin(server_, 2s);
    return serverPeer_ >= 0 && listening_.address == kLoopback && listening_.port > 0;
  }

  static bool DataChannelOpen() {
    std::lock_guard<std::mutex> lock(AccountsLock());
    return !ConnectionListLocked().empty();
  }

  bool WaitUntilNoConnection() {
    for (int i = 0; i < 300; ++i) {
      loop_.Pump();
      if (!DataChannelOpen()) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // The channel's worker thread parks after its record has ended and ends a
  // while later through the main loop, which must outlive it.
  bool WaitUntilNoWorkerThread() {
    for (int i = 0; i < 500; ++i) {
      bool none = LiveWorkerThreads() == 0;
      loop_.Pump();
      if (none && ReapWorkers(false) == 0) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  HeadlessMainLoop loop_;
  ConnectionRecord* control_ = nullptr;
  DataAddress listening_;
  int serverPort_ = 0;
  int server_ = -1;
  int client_ = -1;
  int serverPeer_ = -1;
  int data_ = -1;
};

TEST_F(FtpDataChannelTest, APassiveDataPortNobodyComesToClosesAfterTheWait) {
  ASSERT_TRUE(Open());
  clock_.Advance((kPeerWaitSeconds - 1) * kPerformanceFrequency);
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(DataChannelOpen()) << "closed before the wait was over";
  clock_.Advance(kPerformanceFrequency);
  EXPECT_TRUE(WaitUntilNoConnection()) << "still waiting after the wait";
  EXPECT_LT(ConnectTo(listening_.port), 0) << "the port is still open";
}

TEST_F(FtpDataChannelTest, OnceTheClientHasComeTheTransferIsNeverClosedForTime) {
  ASSERT_TRUE(Open());
  data_ = ConnectTo(listening_.port);
  ASSERT_GE(data_, 0);
  TransferOutlivesTheWait(serverPeer_);
  serverPeer_ = -1;
}

TEST_F(FtpDataChannelTest, AnActiveDataPortTheServerNeverComesToClosesAfterTheWait) {
  int port = OpenActive();
  ASSERT_GT(port, 0);
  clock_.Advance((kPeerWaitSeconds - 1) * kPerformanceFrequency);
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(DataChannelOpen()) << "closed before the wait was over";
  clock_.Advance(kPerformanceFrequency);
  EXPECT_TRUE(WaitUntilNoConnection()) << "still waiting after the wait";
  EXPECT_EQ(Receive(data_), "") << "the client's data connection ends with nothing";
}

TEST_F(FtpDataChannelTest, OnceTheServerHasComeAnActiveTransferIsNeverClosedForTime) {
  int port = OpenActive();
  ASSERT_GT(port, 0);
  int serverData = ConnectTo(port);
  ASSERT_GE(serverData, 0);
  TransferOutlivesTheWait(serverData);
}

}  // namespace
}  // namespace brindlex::testing
