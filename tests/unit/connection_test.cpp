#include "core/connection.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>

#include "core/clock.h"
#include "core/process_state.h"
#include "net/relay.h"

namespace brindlex {
namespace {

struct RecordDeleter {
  void operator()(ConnectionRecord* r) const {
    std::lock_guard<std::mutex> lock(AccountsLock());
    UnlinkConnectionLocked(r);
    DeleteConnection(r);
  }
};
using Record = std::unique_ptr<ConnectionRecord, RecordDeleter>;

std::string ClientOut(const ConnectionRecord& r) { return std::string(r.clientOut.get(), r.clientOutLength); }

TEST(ConnectionRecord, StartsInTheStateOfItsService) {
  const std::pair<Service, int> cases[] = {
      {kServiceHttp, 0},      {kServiceHttpFtpData, 100}, {kServiceFtpControl, 200},
      {kServiceFtpData, 300}, {kServiceSmtp, 400},        {kServicePop3, 500},
      {kServiceSocks5, 600},  {kServicePortMapTcp, 700},  {kServicePortMapUdp, 800}};
  for (auto [service, state] : cases) {
    Record r(NewConnection(service));
    EXPECT_EQ(StateNumber(r->state), state);
    EXPECT_EQ(r->clientSocket, -1);
    EXPECT_EQ(r->contentLength, -1);
    EXPECT_EQ(r->serverAddress, kNoAddress);
    EXPECT_GT(r->startCounter, 0);
  }
  EXPECT_EQ(Record(NewConnection(kServiceHttp))->ftpLogin, "anonymous");
}

TEST(ConnectionRecord, QueueGrowsTheClientOutputButMoveNeverDoes) {
  Record r(NewConnection(kServiceHttp));
  std::string big(kBufferSize + 100, 'q');
  QueueToClient(*r, big);
  EXPECT_EQ(ClientOut(*r), big);
  EXPECT_GE(r->clientOutCapacity, kBufferSize + 100);

  Record m(NewConnection(kServiceHttp));
  m->state = ConnectionState::kRelay;
  std::memset(m->serverIn, 's', kBufferSize);
  m->serverInLength = kBufferSize;
  QueueToClient(*m, std::string(100, 'h'));
  MoveToClient(*m, m->serverIn, m->serverInLength);
  EXPECT_EQ(m->clientOutLength, kBufferSize) << "fills the free room only";
  EXPECT_EQ(m->serverInLength, 100) << "the rest stays in the source";
  EXPECT_EQ(m->clientOutCapacity, kBufferSize);
}

TEST(ConnectionRecord, MoveToServerShiftsTheRestDown) {
  Record r(NewConnection(kServiceHttp));
  r->serverOutLength = kBufferSize - 3;
  std::memcpy(r->clientIn, "abcdef", 6);
  r->clientInLength = 6;
  MoveToServer(*r, r->clientIn, r->clientInLength);
  EXPECT_EQ(std::string(r->serverOut + kBufferSize - 3, 3), "abc");
  EXPECT_EQ(std::string(r->clientIn, r->clientInLength), "def");
  MoveToServer(*r, r->clientIn, r->clientInLength);
  EXPECT_EQ(r->clientInLength, 3) << "nothing moves into a full buffer";
}

TEST(ConnectionRecord, ReplaceClientOutputDropsQueuedBytesAndClientInput) {
  Record r(NewConnection(kServiceFtpControl));
  QueueToClient(*r, "old");
  r->clientInLength = 5;
  ReplaceClientOutput(*r, "new");
  EXPECT_EQ(ClientOut(*r), "new");
  EXPECT_EQ(r->clientInLength, 0);

  r->clientClosed = true;
  std::memcpy(r->serverIn, "xyz", 3);
  r->serverInLength = 3;
  MoveToClient(*r, r->serverIn, r->serverInLength);
  EXPECT_EQ(r->clientOutLength, 0) << "nothing is kept for a client that is gone";
}

TEST(ConnectionRecord, FreeingUnlinksControlAndDataRecords) {
  Record control(NewConnection(kServiceHttp));
  ConnectionRecord* data = NewConnection(kServiceHttpFtpData);
  control->dataRecord = data;
  data->controlRecord = control.get();
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    UnlinkConnectionLocked(data);
    DeleteConnection(data);
  }
  EXPECT_EQ(control->dataRecord, nullptr);
  EXPECT_FALSE(control->serverFinished) << "the control's own worker finishes it (WorkerTest)";

  ConnectionRecord* ftpControl = NewConnection(kServiceFtpControl);
  Record ftpData(NewConnection(kServiceFtpData));
  ftpControl->dataRecord = ftpData.get();
  ftpData->controlRecord = ftpControl;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    UnlinkConnectionLocked(ftpControl);
    DeleteConnection(ftpControl);
  }
  EXPECT_EQ(ftpData->controlRecord, nullptr);
  EXPECT_FALSE(ftpData->serverFinished) << "the data channel's own worker finishes it (WorkerTest)";
}

TEST(ConnectionRecord, TheOpeningDeadlineCountsFromTheStartUntilTheOpeningIsComplete) {
  ManualClock clock;
  clock.Advance(5 * kPerformanceFrequency);
  SetProgramClock(&clock);
  Record r(NewConnection(kServiceHttp));
  SetProgramClock(nullptr);
  const std::int64_t start = r->startCounter;
  EXPECT_EQ(OpeningMsLeft(*r, start), -1) << "a new record has no deadline of its own";

  SetOpeningDeadline(*r, 60);
  EXPECT_EQ(OpeningMsLeft(*r, start), 60'000);
  EXPECT_EQ(OpeningMsLeft(*r, start + 59 * kPerformanceFrequency + 1), 1000) << "rounded up, never 0 early";
  EXPECT_EQ(OpeningMsLeft(*r, start + 60 * kPerformanceFrequency - 1), 1);
  EXPECT_EQ(OpeningMsLeft(*r, start + 60 * kPerformanceFrequency), 0);
  EXPECT_EQ(OpeningMsLeft(*r, start + 3600 * kPerformanceFrequency), 0);

  OpeningComplete(*r);
  EXPECT_EQ(OpeningMsLeft(*r, start + 3600 * kPerformanceFrequency), -1);

  SetOpeningDeadline(*r, 0);
  EXPECT_EQ(OpeningMsLeft(*r, start + 3600 * kPerformanceFrequency), -1) << "0 is no deadline";
  SetOpeningDeadline(*r, -5);
  EXPECT_EQ(OpeningMsLeft(*r, start + 3600 * kPerformanceFrequency), -1) << "nor is a negative value";
}

}  // namespace
}  // namespace brindlex
