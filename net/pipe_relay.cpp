#include "net/pipe_relay.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/connection.h"
#include "core/file_io.h"
#include "net/protocol_handlers.h"
#include "net/server_io.h"
#include "net/socket_util.h"

namespace brindlex {

namespace {

// relayPipe[0] after a failed attempt: the connection stays on the buffers.
constexpr int kNoPipe = -2;
// A piece is at most what the pipe holds. Pieces of 8 KB, like the buffers',
// cost a third of the throughput of a single large download in per-segment
// work, and 64 KB (a pipe's default) still a fifth against 256 KB; the pipe
// only holds references to the socket's own pages. When the user's pipes
// already hold more than the system lets them, the pipe keeps the size it
// got and the pieces follow it.
constexpr int kPieceSize = 256 * 1024;
// Pieces moved in one wake-up at most, so the loop still looks at its flags
// and the continuing check runs at least every megabyte. Fewer cost a fast
// tunnel a fifth of its throughput on a busy machine: each wake-up of the
// worker may wait for a core that the two ends keep busy.
constexpr int kPiecesPerWake = 4;

void SetNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool OpenRelayPipe(ConnectionRecord& r) {
  if (r.relayPipe[0] >= 0) return true;
  if (r.relayPipe[0] == kNoPipe) return false;
  if (::pipe2(r.relayPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    r.relayPipe[0] = kNoPipe;
    r.relayPipe[1] = -1;
    return false;
  }
  ::fcntl(r.relayPipe[1], F_SETPIPE_SZ, kPieceSize);
  int size = ::fcntl(r.relayPipe[1], F_GETPIPE_SZ);
  r.relayPipeSize = size > 0 ? std::min(size, kPieceSize) : 4096;
  // splice has no per-call "don't wait" for the socket's side.
  SetNonBlocking(r.serverSocket);
  SetNonBlocking(r.clientSocket);
  return true;
}

ssize_t SpliceRetrying(int from, int to, size_t length, unsigned flags = 0) {
  while (true) {
    ssize_t n = ::splice(from, nullptr, to, nullptr, length, SPLICE_F_MOVE | SPLICE_F_NONBLOCK | flags);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

// Sends what the pipe holds; with `more`, the kernel may hold a partial
// segment back for the next piece. Returns false when the client is gone.
bool Drain(ConnectionRecord& r, bool more) {
  ssize_t n =
      SpliceRetrying(r.relayPipe[0], r.clientSocket, static_cast<size_t>(r.relayPipeLength), more ? SPLICE_F_MORE : 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
  if (n <= 0) {
    r.clientClosed = true;
    CloseRelayPipe(r);
    return false;
  }
  r.relayPipeLength -= static_cast<int>(n);
  return true;
}

// Receives one piece into the pipe; returns its size (0: none) and whether
// it filled the room it had, so that more is probably waiting.
int ReceivePiece(ConnectionRecord& r, bool& full) {
  // The protocol may allow less than the piece (bytes past a declared
  // length are not part of the answer).
  const ProtocolHandlers& handlers = HandlersOf(r.service);
  int room = handlers.bypassRoom ? handlers.bypassRoom(r, r.relayPipeSize - r.relayPipeLength) : 0;
  if (room <= 0) return 0;
  int n = ReceiveCounted(
      r, room, [](ConnectionRecord& c, size_t size) { return SpliceRetrying(c.serverSocket, c.relayPipe[1], size); });
  if (n <= 0) return 0;
  full = n == room;
  r.relayPipeLength += n;
  if (handlers.bypassed) handlers.bypassed(r, n);
  return n;
}

}  // namespace

bool PipeRelayUsable(const ConnectionRecord& r) {
  // Output a data channel fills is not this thread's alone to look at.
  if (r.clientOutShared || r.serverInLength != 0 || r.clientOutLength != 0 || r.readFile >= 0 || r.clientSocket < 0 ||
      r.serverSocket < 0 || r.relayPipe[0] == kNoPipe)
    return false;
  // A short answer is over before a pipe would pay for itself.
  if (r.relayPipe[0] < 0 && r.bytesReceived < kBufferSize) return false;
  auto bypassRoom = HandlersOf(r.service).bypassRoom;
  return bypassRoom && bypassRoom(r, kPieceSize) > 0;
}

bool ReceiveIntoPipe(ConnectionRecord& r) {
  if (!OpenRelayPipe(r)) return false;
  // While whole pieces keep coming and the client keeps taking them, go on
  // without a wait in between, telling the kernel more follows so that it
  // sends large segments; whatever it held back goes out before the wait.
  bool held = false;
  for (int piece = 0; piece < kPiecesPerWake; ++piece) {
    bool full = false;
    if (ReceivePiece(r, full) == 0) break;
    bool more = full && !r.serverFinished;
    if (!Drain(r, more)) return true;
    held = more;
    if (!more || r.relayPipeLength > 0 || !PipeRelayUsable(r)) break;
  }
  if (held) SetNoDelay(r.clientSocket);  // pushes the held segment
  return true;
}

void SendFromPipe(ConnectionRecord& r) {
  if (r.relayPipeLength > 0 && r.clientSocket >= 0) Drain(r, false);
}

void CloseRelayPipe(ConnectionRecord& r) {
  if (r.relayPipe[0] < 0) return;
  CloseDescriptor(r.relayPipe[0]);
  CloseDescriptor(r.relayPipe[1]);
  r.relayPipeLength = 0;
}

}  // namespace brindlex
