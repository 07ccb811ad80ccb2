#include "core/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace brindlex {

namespace {

// How many of the bytes were written: all of them, or as many as went before
// a write failed (errno tells why).
size_t WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

bool ReadFileBounded(const std::string& path, size_t maxBytes, std::string& text) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[65536];
  while (text.size() < maxBytes) {
    ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  if (text.size() > maxBytes) text.resize(maxBytes);
  return true;
}

namespace {

// Makes the rename itself durable: until the folder's entry is on disk, a
// power cut can bring back the old name, or no file at all.
bool SyncFolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view text, mode_t mode) {
  std::string temp = path + ".tmp";
  // A temporary file left by a crash would keep its old mode through
  // O_TRUNC; made anew it takes `mode`, so a secret is never readable by others.
  ::unlink(temp.c_str());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  // The data reaches the disk before the new name points at it: a rename
  // that lands first would leave an empty file after a power cut.
  bool ok = WriteAll(fd, text) == text.size() && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return SyncFolderOf(path);
}

bool AppendWhole(int fd, std::string_view bytes) {
  size_t done = WriteAll(fd, bytes);
  if (done == bytes.size()) return true;
  // Part of a piece is worse than none: the next append would be glued to
  // it, and a reader would take the two for one record.
  int error = errno;
  struct stat st;
  if (done > 0 && ::fstat(fd, &st) == 0 && ::ftruncate(fd, st.st_size - static_cast<off_t>(done)) != 0) {
    // Cannot even cut back: a reader stops at the unended piece.
  }
  errno = error;
  return false;
}

bool AppendToFile(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = AppendWhole(fd, bytes);
  return ::close(fd) == 0 && ok;
}

void CloseDescriptor(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace brindlex
