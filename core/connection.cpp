#include "core/connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "core/clock.h"
#include "core/file_io.h"
#include "core/process_state.h"
#include "core/report_exception.h"
#include "core/sessions.h"

namespace brindlex {

ConnectionState InitialState(std::uint8_t service) {
  using enum ConnectionState;
  static constexpr ConnectionState kStates[] = {kAwaitingHead, kHttpFtpData, kFtpControl, kFtpData,   kSmtp,
                                                kPop3,         kSocks5,      kPortMapTcp, kPortMapUdp};
  return service < std::size(kStates) ? kStates[service] : kAwaitingHead;
}

ConnectionRecord* NewConnection(std::uint8_t service) {
  // Plain new: the four 8 KB buffers stay untouched (and out of the resident
  // set) until data arrives.
  auto* record = new ConnectionRecord;
  record->service = service;
  record->state = InitialState(service);
  record->startCounter = ProgramClock().PerformanceCounter();
  record->clientOut.Use(record->clientOutInitial);
  record->clientOutCapacity = kBufferSize;
  if (service == kServiceHttp || service == kServiceHttpFtpData) {
    record->ftpLogin = kAnonymousFtpLogin;
    record->ftpPassword = "@";
  }
  return record;
}

std::vector<ConnectionRecord*>& ConnectionListLocked() {
  static std::vector<ConnectionRecord*> list;
  return list;
}

size_t ConnectionCount() {
  std::lock_guard<std::mutex> lock(AccountsLock());
  return ConnectionListLocked().size();
}

void Close(ConnectionRecord& record) { record.closeRequested.store(true); }

void SetOpeningDeadline(ConnectionRecord& record, int seconds) {
  record.openingDeadline = seconds > 0 ? record.startCounter + seconds * kPerformanceFrequency : 0;
}

void AwaitPeer(ConnectionRecord& record) {
  record.openingDeadline = ProgramClock().PerformanceCounter() + kPeerWaitSeconds * kPerformanceFrequency;
}

void OpeningComplete(ConnectionRecord& record) { record.openingDeadline = 0; }

std::int64_t OpeningMsLeft(const ConnectionRecord& record, std::int64_t now) {
  if (record.openingDeadline == 0) return -1;
  std::int64_t left = record.openingDeadline - now;
  // Rounded up: a wait that ends a little before the deadline would only
  // need another one.
  return left <= 0 ? 0 : (left + 999'999) / 1'000'000;
}

void UnlinkConnectionLocked(ConnectionRecord* record) {
  // The other record's worker sees the link gone and finishes its record
  // itself (net/worker.cpp): it alone writes its own state.
  if (record->dataRecord) record->dataRecord->controlRecord = nullptr;
  if (record->controlRecord) record->controlRecord->dataRecord = nullptr;
  record->dataRecord = nullptr;
  record->controlRecord = nullptr;
}

void DeleteConnection(ConnectionRecord* record) {
  // A UDP mapping's client socket belongs to the listener.
  if (record->service != kServicePortMapUdp) CloseDescriptor(record->clientSocket);
  CloseDescriptor(record->serverSocket);
  CloseDescriptor(record->auxSocket);
  CloseDescriptor(record->relayPipe[0]);
  CloseDescriptor(record->relayPipe[1]);
  if (record->cacheWriteFile >= 0) ::close(record->cacheWriteFile);
  if (record->readFile >= 0) ::close(record->readFile);
  delete record;
}

}  // namespace brindlex
