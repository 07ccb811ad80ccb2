#include "net/server_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/accounting.h"
#include "core/connection.h"
#include "net/socket_util.h"

namespace brindlex {

int ReceiveCounted(ConnectionRecord& record, int room, ServerReader read) {
  if (room <= 0) return 0;  // the worker does not poll a full buffer for reading
  ssize_t n = 0;
  int error = 0;
  {
    // The user's speed limits: the session's shared budget (its speedLock is
    // held until the speed step is done) and the cap for big transfers.
    TransferGate gate(record);
    int size = gate.Limit(room, true);
    n = read(record, static_cast<size_t>(size));
    error = n < 0 ? errno : 0;
    gate.Done(n);
  }
  if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) return 0;
  if (n == 0) record.serverEof = true;
  if (n <= 0) {
    record.serverFinished = true;
    return 0;
  }
  CountReceived(record, n);
  return static_cast<int>(n);
}

void ReceiveFromServer(ConnectionRecord& record) {
  record.serverInLength +=
      ReceiveCounted(record, kBufferSize - record.serverInLength, [](ConnectionRecord& r, size_t size) {
        return ReceiveSome(r.serverSocket, r.serverIn + r.serverInLength, size);
      });
}

void SendToServer(ConnectionRecord& record) {
  if (record.serverOutLength <= 0) return;
  ssize_t n = 0;
  int error = 0;
  {
    TransferGate gate(record);
    int amount = gate.Limit(record.serverOutLength, false);
    n = SendSome(record.serverSocket, record.serverOut, static_cast<size_t>(amount));
    error = n < 0 ? errno : 0;
    gate.Done(n);
  }
  if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) return;
  if (n < 0) {
    record.serverOutLength = 0;
    record.serverFinished = true;
    return;
  }
  std::memmove(record.serverOut, record.serverOut + n, static_cast<size_t>(record.serverOutLength - n));
  record.serverOutLength -= static_cast<int>(n);
  CountSent(record, n);
}

}  // namespace brindlex
