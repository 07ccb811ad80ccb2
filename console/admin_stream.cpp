#include "console/admin_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <openssl/err.h>

#include "net/socket_util.h"

namespace brindlex {

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > 1000000 ? 1000000 : static_cast<int>(left.count());
}

void WakeFd(int fd) {
  std::uint64_t one = 1;
  if (::write(fd, &one, sizeof(one)) < 0) {
    // Full counter: the reader is woken anyway.
  }
}

void DrainFd(int fd) {
  std::uint64_t count = 0;
  while (::read(fd, &count, sizeof(count)) > 0) {
  }
}

void BlockBrokenPipeSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

short PollOne(int fd, short events, int timeoutMs) {
  pollfd entry{fd, events, 0};
  while (true) {
    int n = ::poll(&entry, 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? entry.revents : 0;
  }
}

AdminStream::AdminStream(int fd, SSL_CTX* tls, bool server) : fd_(fd), server_(server) {
  int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  if (tls) {
    ssl_ = SSL_new(tls);
    if (ssl_) SSL_set_fd(ssl_, fd_);
  }
}

AdminStream::~AdminStream() {
  if (ssl_) SSL_free(ssl_);
  if (fd_ >= 0) ::close(fd_);
}

bool AdminStream::Handshake(std::chrono::steady_clock::time_point deadline, std::string& error, int cancelFd) {
  if (!ssl_) {
    if (fd_ >= 0) return true;
    error = "TLS session not made";
    return false;
  }
  ERR_clear_error();
  while (true) {
    int result = server_ ? SSL_accept(ssl_) : SSL_connect(ssl_);
    if (result == 1) return true;
    int reason = SSL_get_error(ssl_, result);
    short events = reason == SSL_ERROR_WANT_READ ? POLLIN : reason == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
    if (events == 0) {
      error = TakeTlsError();
      return false;
    }
    int wait = MillisecondsUntil(deadline);
    pollfd entries[2] = {{fd_, events, 0}, {cancelFd, POLLIN, 0}};
    int n = wait == 0 ? 0 : ::poll(entries, cancelFd >= 0 ? 2 : 1, wait);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || entries[1].revents != 0) {
      error = n == 0 ? "TLS handshake timed out" : "TLS handshake cancelled";
      return false;
    }
  }
}

std::string AdminStream::PeerFingerprint() const {
  if (!ssl_) return {};
  X509* certificate = SSL_get1_peer_certificate(ssl_);
  if (!certificate) return {};
  std::string text = FingerprintOfCertificate(certificate);
  X509_free(certificate);
  return text;
}

StreamIo AdminStream::Read(char* buffer, std::size_t capacity, std::size_t& got) {
  got = 0;
  if (!ssl_) {
    while (true) {
      ssize_t n = ::recv(fd_, buffer, capacity, 0);
      if (n > 0) {
        got = static_cast<std::size_t>(n);
        return StreamIo::kDone;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return StreamIo::kWouldBlock;
      return StreamIo::kClosed;
    }
  }
  readWantsWrite_ = false;
  ERR_clear_error();
  int n = SSL_read(ssl_, buffer, static_cast<int>(capacity > 1 << 30 ? 1 << 30 : capacity));
  if (n > 0) {
    got = static_cast<std::size_t>(n);
    return StreamIo::kDone;
  }
  int reason = SSL_get_error(ssl_, n);
  if (reason == SSL_ERROR_WANT_READ) return StreamIo::kWouldBlock;
  if (reason == SSL_ERROR_WANT_WRITE) {
    readWantsWrite_ = true;
    return StreamIo::kWouldBlock;
  }
  return StreamIo::kClosed;
}

StreamIo AdminStream::Write(const char* data, std::size_t size, std::size_t& wrote) {
  wrote = 0;
  if (size == 0) return StreamIo::kDone;
  if (!ssl_) {
    while (true) {
      ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
      if (n >= 0) {
        wrote = static_cast<std::size_t>(n);
        return StreamIo::kDone;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return StreamIo::kWouldBlock;
      return StreamIo::kClosed;
    }
  }
  ERR_clear_error();
  int n = SSL_write(ssl_, data, static_cast<int>(size > 1 << 20 ? 1 << 20 : size));
  if (n > 0) {
    wrote = static_cast<std::size_t>(n);
    return StreamIo::kDone;
  }
  int reason = SSL_get_error(ssl_, n);
  if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) return StreamIo::kWouldBlock;
  return StreamIo::kClosed;
}

bool AdminStream::HasBuffered() const { return ssl_ && SSL_pending(ssl_) > 0; }

short AdminStream::Events(bool wantWrite) const {
  return static_cast<short>(POLLIN | (wantWrite || readWantsWrite_ ? POLLOUT : 0));
}

bool AdminStream::WriteAll(const std::string& bytes, std::chrono::steady_clock::time_point deadline) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::size_t wrote = 0;
    StreamIo result = Write(bytes.data() + done, bytes.size() - done, wrote);
    if (result == StreamIo::kClosed) return false;
    done += wrote;
    if (result == StreamIo::kWouldBlock) {
      int wait = MillisecondsUntil(deadline);
      if (wait == 0 || PollOne(fd_, POLLOUT | POLLIN, wait) == 0) return false;
    }
  }
  return true;
}

void AdminStream::Shutdown() {
  if (ssl_) {
    ERR_clear_error();
    SSL_shutdown(ssl_);
  }
}

}  // namespace brindlex

namespace brindlex {

namespace {

// Runs `act` on a sockaddr_un for `path`, through the folder's descriptor
// when the path is too long for it.
template <typename Act>
int WithUnixAddress(const std::string& path, Act act) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() < sizeof(address.sun_path)) {
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return act(address);
  }
  std::size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  int dir = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  std::string viaFolder = "/proc/self/fd/" + std::to_string(dir) + "/" + name;
  int result = -1;
  if (viaFolder.size() < sizeof(address.sun_path)) {
    std::memcpy(address.sun_path, viaFolder.c_str(), viaFolder.size() + 1);
    result = act(address);
  } else {
    errno = ENAMETOOLONG;
  }
  int error = errno;
  ::close(dir);
  errno = error;
  return result;
}

int Fail(int fd) {
  int error = errno;
  ::close(fd);
  errno = error;
  return -1;
}

}  // namespace

std::string AdminSocketPath(const std::string& programFolder) { return programFolder + "/brindlex.sock"; }

int ListenUnix(const std::string& path, mode_t mode) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // A socket file left by a gateway that did not end in order: the
  // single-instance lock says no other gateway serves this folder.
  ::unlink(path.c_str());
  int bound = WithUnixAddress(path, [fd](const sockaddr_un& address) {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  });
  if (bound != 0 || ::chmod(path.c_str(), mode) != 0 || ::listen(fd, 16) != 0) return Fail(fd);
  return fd;
}

int ConnectUnix(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int connected = WithUnixAddress(path, [fd](const sockaddr_un& address) {
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  });
  if (connected != 0) return Fail(fd);
  return fd;
}

int ConnectTcp(const std::string& host, int port, int timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    errno = EHOSTUNREACH;
    return -1;
  }
  int result = -1;
  for (addrinfo* at = found; at && result < 0; at = at->ai_next) {
    int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, at->ai_protocol);
    if (fd < 0) continue;
    if (::connect(fd, at->ai_addr, at->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        Fail(fd);
        continue;
      }
      int error = 0;
      socklen_t size = sizeof(error);
      if ((PollOne(fd, POLLOUT, timeoutMs) & (POLLOUT | POLLERR | POLLHUP)) == 0) {
        errno = ETIMEDOUT;
        Fail(fd);
        continue;
      }
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        errno = error != 0 ? error : errno;
        Fail(fd);
        continue;
      }
    }
    SetNoDelay(fd);
    result = fd;
  }
  int error = errno;
  ::freeaddrinfo(found);
  errno = error;
  return result;
}

}  // namespace brindlex
