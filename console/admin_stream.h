// One administration link's byte stream: a non-blocking socket, plain (the
// local Unix socket) or wrapped in TLS (the network port), with the same
// read and write verbs for both so the server and the client run one loop.
//
// Threads: one stream belongs to the one thread that polls it (TLS state may
// not be touched from two threads); it owns and closes its descriptor.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>

#include "console/admin_tls.h"

namespace brindlex {

enum class StreamIo { kDone, kWouldBlock, kClosed };

class AdminStream {
 public:
  // Takes the descriptor (made non-blocking here) and, for TLS, a context to
  // make the session from; `server` says which end of the handshake it is.
  AdminStream(int fd, SSL_CTX* tls, bool server);
  ~AdminStream();
  AdminStream(const AdminStream&) = delete;
  AdminStream& operator=(const AdminStream&) = delete;

  int Fd() const { return fd_; }
  bool Tls() const { return ssl_ != nullptr; }
  // Runs the TLS handshake until it is done, `deadline` passes or
  // `cancelFd` (if not -1) becomes readable; plain streams have none. False
  // with `error` set when it failed.
  bool Handshake(std::chrono::steady_clock::time_point deadline, std::string& error, int cancelFd = -1);
  // The peer's certificate fingerprint after the handshake ("" if none).
  std::string PeerFingerprint() const;

  // Reads what is there into `buffer` (up to `capacity`): kDone with `got`
  // set, kWouldBlock when nothing is there yet, kClosed at the end or on
  // an error.
  StreamIo Read(char* buffer, std::size_t capacity, std::size_t& got);
  // Writes as much of the bytes as the socket takes now.
  StreamIo Write(const char* data, std::size_t size, std::size_t& wrote);
  // TLS may hold decrypted bytes the socket no longer shows as readable.
  bool HasBuffered() const;
  // The poll events to wait for: readable always, writable when the caller
  // has bytes to send or TLS needs to write to go on reading.
  short Events(bool wantWrite) const;
  // Writes everything within `deadline` (farewells and refusals before the
  // close). False when it could not.
  bool WriteAll(const std::string& bytes, std::chrono::steady_clock::time_point deadline);
  // A polite TLS close (best effort, never waits).
  void Shutdown();

 private:
  int fd_;
  SSL* ssl_ = nullptr;
  bool server_;
  bool readWantsWrite_ = false;
};

// The local socket's path in a program folder.
std::string AdminSocketPath(const std::string& programFolder);  // brindlex.sock
// Socket helpers: close-on-exec descriptors, or -1 with errno set. A Unix
// path longer than sockaddr_un holds is reached through the folder's
// descriptor (/proc/self/fd/N/name), so a deep program folder still works.
int ListenUnix(const std::string& path, mode_t mode);
int ConnectUnix(const std::string& path);
// Connects to host:port (a name or an address), waiting at most `timeoutMs`.
int ConnectTcp(const std::string& host, int port, int timeoutMs);

// OpenSSL writes to the socket without MSG_NOSIGNAL: a peer gone mid-write
// would raise SIGPIPE in a process that does not ignore it (the console).
// Blocked in the thread that owns the streams, the signal stays pending and
// the write fails with EPIPE instead.
void BlockBrokenPipeSignal();

// Waits for `events` on one descriptor at most `timeoutMs` (-1: no limit).
// The revents, or 0 on time-out.
short PollOne(int fd, short events, int timeoutMs);
// The milliseconds left until `deadline` for a poll: 0 once it has passed,
// at most a thousand seconds.
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline);
// An eventfd that wakes a thread's poll: one more count, and all of them
// taken (a full counter wakes the reader anyway).
void WakeFd(int fd);
void DrainFd(int fd);

}  // namespace brindlex
