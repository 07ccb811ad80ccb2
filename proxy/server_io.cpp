#include "proxy/server_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "proxy/connection.h"
#include "proxy/socket_util.h"

namespace brindlex {

void ReceiveFromServer(ConnectionRecord& record) {
  int size = kBufferSize;
  // SPEED LIMIT: a user with a speed in force takes its UserSession's
  // speedLock and receives at most the session's budget; past bigTransferMb
  // the connection's own cap narrows `size` further.
  size = std::max(size, 1);
  size = std::min(size, kBufferSize - record.serverInLength);
  if (size <= 0) return;  // the worker does not poll a full buffer for reading
  ssize_t n = ReceiveSome(record.serverSocket, record.serverIn + record.serverInLength, static_cast<size_t>(size));
  int error = n < 0 ? errno : 0;
  // SPEED LIMIT: the speed step on the session (releasing speedLock) or on
  // the connection's own quantum goes here, after the receive.
  if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) return;
  if (n == 0) record.serverEof = true;
  if (n <= 0) {
    record.serverFinished = true;
    return;
  }
  record.serverInLength += static_cast<int>(n);
  record.bytesReceived += n;
  // ACCOUNTING: with a UserSession the bytes go into its speed history and,
  // unless the target is local, the incoming step charges them; for service 0
  // and a non-local target they count as fetched from the Internet.
}

void SendToServer(ConnectionRecord& record) {
  if (record.serverOutLength <= 0) return;
  int amount = record.serverOutLength;
  // SPEED LIMIT: a user with a speed in force takes speedLock and sends at
  // most its budget; the big-transfer cap limits to speedQuantumLeft.
  amount = std::max(amount, 1);
  ssize_t n = SendSome(record.serverSocket, record.serverOut,
                       static_cast<size_t>(std::min(record.serverOutLength, amount)));
  int error = n < 0 ? errno : 0;
  // SPEED LIMIT: the speed step on the session (releasing speedLock) or on
  // the connection goes here, after the send.
  if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) return;
  if (n < 0) {
    record.serverOutLength = 0;
    record.serverFinished = true;
    return;
  }
  std::memmove(record.serverOut, record.serverOut + n, static_cast<size_t>(record.serverOutLength - n));
  record.serverOutLength -= static_cast<int>(n);
  record.bytesSent += n;
  // ACCOUNTING: the sent bytes go into the speed history and, unless the
  // target is local, the outgoing step charges them.
}

}  // namespace brindlex
