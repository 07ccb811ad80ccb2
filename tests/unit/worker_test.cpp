// The connection worker driven by hand over socket pairs: a connection that
// never completes its opening is closed at its deadline (time moved by a fake
// clock), one that completed it is never closed for quiet, and an exception in
// one connection's work ends that connection alone.
#include "net/worker.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/connection.h"
#include "core/main_loop.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "net/protocol_handlers.h"
#include "net/relay.h"
#include "net/worker_stacks.h"
#include "net/worker_threads.h"

namespace brindlex {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kSecond = kPerformanceFrequency;

// The test protocol, on a service nothing else in the tests registers: what
// the client sends comes back, a line ends the opening, and "boom" makes the
// handler throw.
bool EchoClientInput(ConnectionRecord& r) {
  std::string text(r.clientIn, static_cast<size_t>(r.clientInLength));
  r.clientInLength = 0;
  if (text.find("boom") != std::string::npos) throw std::runtime_error("handler failed");
  if (text.find('\n') != std::string::npos) OpeningComplete(r);
  QueueToClient(r, text);
  return true;
}

// What the peer receives within the time-out: at most `count` bytes; empty
// when nothing came or the worker closed the connection.
std::string Receive(int fd, size_t count, std::chrono::milliseconds timeout = 2s) {
  std::string got;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[256];
    ssize_t n = ::recv(fd, buffer, std::min(sizeof(buffer), count - got.size()), 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

// Whether the peer closed within the time-out, with nothing sent before.
bool ClosedWithoutAnswer(int fd, std::chrono::milliseconds timeout = 2s) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
  char byte;
  return ::recv(fd, &byte, 1, 0) == 0;
}

bool Send(int fd, const std::string& text) {
  return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramClock(&clock_);
    SetMainLoop(&loop_);
    SetMonitorSink([this](const std::string& line) { monitor_.push_back(line); });
    ProtocolHandlers handlers;
    handlers.clientInput = EchoClientInput;
    RegisterProtocolHandlers(kServicePortMapTcp, handlers);
  }
  void TearDown() override {
    for (int fd : clients_) ::close(fd);
    RegisterProtocolHandlers(kServicePortMapTcp, ProtocolHandlers{});
    SetMonitorSink({});
    SetMainLoop(nullptr);
    SetProgramClock(nullptr);
  }

  // A record of the test service as the listener leaves it (deadline set);
  // `client` is the client's end.
  ConnectionRecord* Accept(int& client, int headTimeout) {
    int pair[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    ConnectionRecord* record = NewConnection(kServicePortMapTcp);
    record->clientSocket = pair[0];
    client = pair[1];
    clients_.push_back(client);
    SetOpeningDeadline(*record, headTimeout);
    return record;
  }

  // Runs the worker loop of a record on a thread of its own.
  static std::future<void> Run(ConnectionRecord* record) {
    return std::async(std::launch::async, [record] { ConnectionWorker(*record); });
  }

  // Ends a worker the test expected to keep running: asks for the close and
  // wakes its wait with a byte.
  static void Finish(ConnectionRecord* record, int client, std::future<void>& worker) {
    Close(*record);
    Send(client, "x");
    worker.wait();
  }

  static void Free(ConnectionRecord* record) {
    std::lock_guard<std::mutex> lock(AccountsLock());
    UnlinkConnectionLocked(record);
    DeleteConnection(record);
  }

  // Runs the main thread's tasks until the connection list is empty.
  bool PumpUntilNoConnection() {
    for (int i = 0; i < 500; ++i) {
      loop_.Pump();
      if (ConnectionCount() == 0) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  ManualClock clock_;
  HeadlessMainLoop loop_;
  std::vector<std::string> monitor_;
  std::vector<int> clients_;
};

TEST_F(WorkerTest, ASilentClientIsClosedAtItsDeadlineWithoutWakingItself) {
  int client = -1;
  ConnectionRecord* record = Accept(client, 1);
  std::future<void> worker = Run(record);
  EXPECT_EQ(worker.wait_for(200ms), std::future_status::timeout) << "closed before its deadline";
  clock_.Advance(kSecond);
  // Nothing arrives to wake the worker: its wait itself ends at the deadline.
  EXPECT_EQ(worker.wait_for(3s), std::future_status::ready) << "still open after its deadline";
  if (worker.wait_for(0s) != std::future_status::ready) Finish(record, client, worker);
  EXPECT_TRUE(record->closeRequested);
  Free(record);
  EXPECT_TRUE(ClosedWithoutAnswer(client));
}

TEST_F(WorkerTest, AClientSendingItsOpeningByteByByteIsClosedAtItsDeadline) {
  int client = -1;
  ConnectionRecord* record = Accept(client, 60);
  std::future<void> worker = Run(record);
  for (int second = 0; second < 60; second += 10) {
    ASSERT_TRUE(Send(client, "G"));
    EXPECT_EQ(Receive(client, 1), "G") << "served at second " << second;
    clock_.Advance(10 * kSecond);
  }
  // Second 60: the next byte finds the deadline passed.
  Send(client, "E");
  EXPECT_EQ(worker.wait_for(3s), std::future_status::ready) << "a slow opening outlived its deadline";
  if (worker.wait_for(0s) != std::future_status::ready) Finish(record, client, worker);
  EXPECT_TRUE(record->closeRequested);
  Free(record);
}

TEST_F(WorkerTest, AConnectionPastItsOpeningIsNeverClosedForQuiet) {
  int client = -1;
  ConnectionRecord* record = Accept(client, 1);
  std::future<void> worker = Run(record);
  ASSERT_TRUE(Send(client, "CONNECT\n"));
  EXPECT_EQ(Receive(client, 8), "CONNECT\n");
  clock_.Advance(3600 * kSecond);
  EXPECT_EQ(worker.wait_for(1500ms), std::future_status::timeout) << "a quiet tunnel was closed";
  ASSERT_TRUE(Send(client, "later"));
  EXPECT_EQ(Receive(client, 5), "later");
  EXPECT_FALSE(record->closeRequested);
  Finish(record, client, worker);
  Free(record);
}

TEST_F(WorkerTest, NoDeadlineWhenTheTimeoutIsZero) {
  int client = -1;
  ConnectionRecord* record = Accept(client, 0);
  std::future<void> worker = Run(record);
  clock_.Advance(86400 * kSecond);
  ASSERT_TRUE(Send(client, "G"));
  EXPECT_EQ(Receive(client, 1), "G");
  EXPECT_EQ(worker.wait_for(1500ms), std::future_status::timeout);
  Finish(record, client, worker);
  Free(record);
}

TEST_F(WorkerTest, AFinishedHttpDataChannelFinishesItsClientConnectionOnceItsOutputIsSent) {
  int client = -1;
  ConnectionRecord* control = Accept(client, 0);
  ConnectionRecord* data = NewConnection(kServiceHttpFtpData);
  control->clientOutShared = true;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    control->dataRecord = data;
    data->controlRecord = control;
    // What the channel passed on before it ended.
    QueueToClient(*control, "listing");
  }
  std::future<void> worker = Run(control);
  EXPECT_EQ(Receive(client, 7), "listing");
  EXPECT_EQ(worker.wait_for(300ms), std::future_status::timeout) << "ended while its data channel runs";
  Free(data);
  EXPECT_TRUE(ClosedWithoutAnswer(client)) << "the client connection did not end with its data channel";
  EXPECT_EQ(worker.wait_for(3s), std::future_status::ready);
  if (worker.wait_for(0s) != std::future_status::ready) Finish(control, client, worker);
  Free(control);
}

TEST_F(WorkerTest, AnFtpDataChannelEndsWithItsControlConnection) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  clients_.push_back(pair[1]);
  ConnectionRecord* control = NewConnection(kServiceFtpControl);
  ConnectionRecord* data = NewConnection(kServiceFtpData);
  data->clientSocket = pair[0];
  control->dataRecord = data;
  data->controlRecord = control;
  std::future<void> worker = Run(data);
  EXPECT_EQ(worker.wait_for(300ms), std::future_status::timeout) << "ended while its control connection runs";
  Free(control);
  EXPECT_TRUE(ClosedWithoutAnswer(pair[1])) << "the data channel outlived its control connection";
  EXPECT_EQ(worker.wait_for(3s), std::future_status::ready);
  if (worker.wait_for(0s) != std::future_status::ready) Finish(data, pair[1], worker);
  Free(data);
}

TEST_F(WorkerTest, AnExceptionEndsOnlyItsOwnConnectionAndIsShownOnTheMonitor) {
  int failing = -1;
  int other = -1;
  ConnectionRecord* failingRecord = Accept(failing, 0);
  ConnectionRecord* otherRecord = Accept(other, 0);
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    ConnectionListLocked().push_back(failingRecord);
    ConnectionListLocked().push_back(otherRecord);
  }
  ASSERT_TRUE(StartWorker(failingRecord));
  ASSERT_TRUE(StartWorker(otherRecord));
  ASSERT_TRUE(Send(other, "before\n"));
  EXPECT_EQ(Receive(other, 7), "before\n");

  ASSERT_TRUE(Send(failing, "boom"));
  // The failing connection is closed and its record handed over and freed.
  for (int i = 0; i < 500 && ConnectionCount() > 1; ++i) {
    loop_.Pump();
    std::this_thread::sleep_for(10ms);
  }
  loop_.Pump();
  EXPECT_EQ(ConnectionCount(), 1u);
  EXPECT_TRUE(ClosedWithoutAnswer(failing));
  EXPECT_FALSE(Flags().fatalStop) << "one connection's exception stopped the program";
  ASSERT_EQ(monitor_.size(), 1u);
  EXPECT_EQ(monitor_[0], "Exception: 'handler failed' in module 'ProxyThread' Line=8");

  // The other connection is still served.
  ASSERT_TRUE(Send(other, "after"));
  EXPECT_EQ(Receive(other, 5), "after");

  Close(*otherRecord);
  Send(other, "x");
  EXPECT_TRUE(PumpUntilNoConnection());
  // Threads end after their wait for more work, and the main thread joins them.
  // An ended thread posts its stack before it stops counting as live.
  bool ended = false;
  for (int i = 0; i < 500 && !ended; ++i) {
    bool none = LiveWorkerThreads() == 0;
    loop_.Pump();
    ended = none && ReapWorkers(false) == 0;
    if (!ended) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(ended) << LiveWorkerThreads() << " threads still running";
}

}  // namespace
}  // namespace brindlex
