#include "proxy/connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "core/clock.h"
#include "core/process_state.h"
#include "core/report_exception.h"
#include "core/sessions.h"
#include "proxy/response_processing.h"
#include "proxy/socket_util.h"

namespace brindlex {

int InitialState(std::uint8_t service) {
  static constexpr int kStates[] = {0, 100, 200, 300, 400, 500, 600, 700, 800};
  return service < std::size(kStates) ? kStates[service] : 0;
}

ConnectionRecord* NewConnection(std::uint8_t service) {
  // Plain new: the three 8 KB buffers stay untouched (and out of the resident
  // set) until data arrives.
  auto* record = new ConnectionRecord;
  record->service = service;
  record->state = InitialState(service);
  record->startCounter = ProgramClock().PerformanceCounter();
  record->clientOut.reset(new char[kBufferSize]);
  record->clientOutCapacity = kBufferSize;
  if (service == kServiceHttp || service == kServiceHttpFtpData) {
    record->ftpLogin = "anonymous";
    record->ftpPassword = "@";
  }
  return record;
}

void ConnectionCreateLocked(ConnectionRecord& record, int listeningSocket) {
  try {
    switch (record.service) {
      case kServiceSmtp:
        record.method = "SMTP";
        break;
      case kServicePop3:
        record.method = "POP3";
        break;
      case kServiceSocks5:
        record.method = "SOCKS5";
        break;
      default:
        break;
    }
    record.clientSocket = ::accept4(listeningSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (record.clientSocket < 0) {
      Close(record);
      return;
    }
    SetNoDelay(record.clientSocket);
    std::uint16_t port = 0;
    Ipv4 localAddress = 0;
    if (!PeerAddress(record.clientSocket, record.clientAddress, port) ||
        !LocalAddress(record.clientSocket, localAddress, port)) {
      Close(record);
      return;
    }
    if (!AdmitLocked(record.clientAddress, localAddress, record.sessionRecord)) Close(record);
  } catch (...) {
    Close(record);
    ReportCurrentException("ProxyThread", record.stepMarker);
  }
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

void QueueToClient(ConnectionRecord& record, const char* bytes, size_t length) {
  if (length == 0) return;
  size_t needed = static_cast<size_t>(record.clientOutLength) + length;
  if (needed > static_cast<size_t>(record.clientOutCapacity)) {
    size_t capacity = std::max(needed, static_cast<size_t>(record.clientOutCapacity) * 2);
    std::unique_ptr<char[]> grown(new char[capacity]);
    std::memcpy(grown.get(), record.clientOut.get(), static_cast<size_t>(record.clientOutLength));
    record.clientOut = std::move(grown);
    record.clientOutCapacity = static_cast<int>(capacity);
  }
  std::memcpy(record.clientOut.get() + record.clientOutLength, bytes, length);
  record.clientOutLength += static_cast<int>(length);
}

void QueueToClient(ConnectionRecord& record, std::string_view text) {
  QueueToClient(record, text.data(), text.size());
}

void ReplaceClientOutput(ConnectionRecord& record, std::string_view text) {
  record.clientOutLength = 0;
  QueueToClient(record, text);
  record.clientInLength = 0;
}

namespace {
void ShiftDown(char* source, int& sourceLength, int moved) {
  if (moved <= 0) return;
  std::memmove(source, source + moved, static_cast<size_t>(sourceLength - moved));
  sourceLength -= moved;
}
}  // namespace

void MoveToClient(ConnectionRecord& record, char* source, int& sourceLength) {
  int room = record.clientOutCapacity - record.clientOutLength;
  int moved = std::min(room, sourceLength);
  // An HTTP response is read on its way through (the cache, the document
  // size check); it may hold bytes back or drop a refused answer.
  if (record.state == 1000) moved = ResponseBytesToMove(record, source, sourceLength, moved);
  if (moved > 0) {
    std::memcpy(record.clientOut.get() + record.clientOutLength, source, static_cast<size_t>(moved));
    record.clientOutLength += moved;
    ShiftDown(source, sourceLength, moved);
  }
  if (record.clientClosed) record.clientOutLength = 0;
}

void MoveToServer(ConnectionRecord& record, char* source, int& sourceLength) {
  int moved = std::min(kBufferSize - record.serverOutLength, sourceLength);
  if (moved <= 0) return;
  std::memcpy(record.serverOut + record.serverOutLength, source, static_cast<size_t>(moved));
  record.serverOutLength += moved;
  ShiftDown(source, sourceLength, moved);
}

void FreeConnectionLocked(ConnectionRecord* record) {
  if (record->dataRecord) {
    record->dataRecord->controlRecord = nullptr;
    record->dataRecord->serverFinished = true;
  }
  if (record->controlRecord) {
    record->controlRecord->dataRecord = nullptr;
    if (record->service == kServiceHttpFtpData) record->controlRecord->serverFinished = true;
  }
  // A UDP mapping's client socket belongs to the listener.
  if (record->service != kServicePortMapUdp) CloseSocket(record->clientSocket);
  CloseSocket(record->serverSocket);
  CloseSocket(record->auxSocket);
  CloseSocket(record->relayPipe[0]);
  CloseSocket(record->relayPipe[1]);
  if (record->cacheWriteFile >= 0) ::close(record->cacheWriteFile);
  if (record->readFile >= 0) ::close(record->readFile);
  delete record;
}

}  // namespace brindlex
