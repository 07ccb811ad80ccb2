// A SOCKS5 BIND waits for its peer a bounded time, with time moved by the
// fake clock: a peer that never comes would otherwise hold the connection
// record for good.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "core/main_loop.h"
#include "net/protocol_handlers.h"
#include "net/socket_util.h"
#include "net/worker.h"
#include "socks/socks_protocol.h"
#include "tests/unit/account_world.h"
#include "tests/unit/loopback_peer.h"

namespace brindlex::testing {
namespace {

using namespace std::chrono_literals;

constexpr Ipv4 kLoopback = 0x7F000001u;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

class SocksBindWaitTest : public AccountWorld {
 protected:
  void SetUp() override {
    AccountWorld::SetUp();
    SetMainLoop(&loop_);
    RegisterSocks5Protocol();
    AddUser("127.0.0.1", true);
    // The client's connection as the listener hands it over: over TCP, as
    // the BIND listens on the address that faces the client.
    int port = 0;
    int listening = OpenSingleAcceptSocket(kLoopback, port);
    ASSERT_GE(listening, 0);
    client_ = ConnectTo(port);
    ASSERT_GE(client_, 0);
    record_ = NewConnection(kServiceSocks5);
    record_->clientSocket = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listening);
    ASSERT_GE(record_->clientSocket, 0);
    record_->clientAddress = kLoopback;
    std::lock_guard<std::mutex> lock(AccountsLock());
    record_->sessionRecord = FindOrCreateSessionLocked(kLoopback);
  }
  void TearDown() override {
    if (worker_.valid()) {
      Close(*record_);
      worker_.wait();
    }
    CloseBookkeeping(*record_);
    {
      std::lock_guard<std::mutex> lock(AccountsLock());
      UnlinkConnectionLocked(record_);
      DeleteConnection(record_);
    }
    ::close(client_);
    RegisterProtocolHandlers(kServiceSocks5, ProtocolHandlers{});
    SetMainLoop(nullptr);
    AccountWorld::TearDown();
  }

  // Sends the greeting and a BIND and reads both answers: the chosen method
  // and the address the gateway listens on.
  bool Bound() {
    worker_ = std::async(std::launch::async, [this] { ConnectionWorker(*record_); });
    std::string request = Bytes({5, 1, 0}) + Bytes({5, 2, 0, 1, 127, 0, 0, 1, 0, 0});
    if (::send(client_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
      return false;
    std::string answer = Receive(client_, 12);
    return answer.size() == 12 && answer.substr(0, 4) == Bytes({5, 0, 5, 0});
  }

  bool WorkerEndsWithin(std::chrono::milliseconds time) {
    return worker_.wait_for(time) == std::future_status::ready;
  }

  HeadlessMainLoop loop_;
  ConnectionRecord* record_ = nullptr;
  int client_ = -1;
  std::future<void> worker_;
};

TEST_F(SocksBindWaitTest, ABindNobodyComesToEndsAfterTheWait) {
  ASSERT_TRUE(Bound());
  clock_.Advance((kPeerWaitSeconds - 1) * kPerformanceFrequency);
  // The worker's quiet waits last up to 3 s before it looks at the clock.
  EXPECT_FALSE(WorkerEndsWithin(3500ms)) << "ended before the wait was over";
  clock_.Advance(kPerformanceFrequency);
  EXPECT_TRUE(WorkerEndsWithin(5s)) << "still waiting after the wait";
  EXPECT_EQ(Receive(client_, 1), "") << "the client hears only the close";
}

}  // namespace
}  // namespace brindlex::testing
