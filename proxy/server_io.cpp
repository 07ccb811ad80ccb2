#include "proxy/server_io.h"

#include <cerrno>
#include <cstring>

#include "proxy/connection.h"
#include "proxy/socket_util.h"

namespace brindlex {

void ReceiveFromServer(ConnectionRecord& record) {
  int room = kBufferSize - record.serverInLength;
  if (room <= 0) return;
  ssize_t n = ReceiveSome(record.serverSocket, record.serverIn + record.serverInLength, static_cast<size_t>(room));
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n == 0) record.serverEof = true;
  if (n <= 0) {
    record.serverFinished = true;
    return;
  }
  record.serverInLength += static_cast<int>(n);
  record.bytesReceived += n;
}

void SendToServer(ConnectionRecord& record) {
  if (record.serverOutLength <= 0) return;
  ssize_t n = SendSome(record.serverSocket, record.serverOut, static_cast<size_t>(record.serverOutLength));
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n < 0) {
    record.serverOutLength = 0;
    record.serverFinished = true;
    return;
  }
  std::memmove(record.serverOut, record.serverOut + n, static_cast<size_t>(record.serverOutLength - n));
  record.serverOutLength -= static_cast<int>(n);
  record.bytesSent += n;
}

}  // namespace brindlex
