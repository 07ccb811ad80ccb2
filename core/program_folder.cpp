#include "core/program_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace brindlex {

namespace {
std::string g_programFolder = ".";

std::string StripTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}
}  // namespace

std::string ResolveProgramFolder() {
  const char* home = std::getenv("BRINDLEX_HOME");
  if (home && *home) return StripTrailingSlash(home);
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return ".";
  std::string exe(buffer, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : exe.substr(0, slash);
}

void SetProgramFolder(std::string folder) { g_programFolder = StripTrailingSlash(std::move(folder)); }
const std::string& ProgramFolder() { return g_programFolder; }
std::string LoggingFolder() { return g_programFolder + "/Logging"; }
std::string CacheFolder() { return g_programFolder + "/Cache"; }
std::string WwwrootFolder() { return g_programFolder + "/wwwroot"; }
std::string FormsFolder() { return g_programFolder + "/Forms"; }
std::string SettingsFilePath() { return g_programFolder + "/Brindlex.ini"; }

bool EnsureFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

namespace {

std::string InstanceLockPath(const std::string& folder) { return folder + "/brindlex.lock"; }

// The lock belongs to the open file description, not to the process: a
// record lock (F_SETLK) would vanish as soon as any code of the process
// (a file dialog listing the folder, a library) opened and closed the file.
struct flock WholeFileWriteLock() {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return lock;
}

// Names the pid namespace, so that a pid written by a process of another
// namespace (a container sharing the folder) is not taken for one of ours.
std::string PidNamespace() {
  char buffer[64];
  ssize_t n = ::readlink("/proc/self/ns/pid", buffer, sizeof(buffer));
  return n > 0 && static_cast<size_t>(n) < sizeof(buffer) ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// A lock on an open file description tells others that it is held but not by
// whom, so the holder writes "<pid> <pid namespace>\n" into the file.
void RecordHolder(int fd) {
  std::string text = std::to_string(::getpid()) + " " + PidNamespace() + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    // The lock still guards the folder; the command line then reports a
    // gateway whose pid it cannot see.
  }
}

pid_t ReadHolder(int fd) {
  char buffer[128];
  ssize_t n = ::pread(fd, buffer, sizeof(buffer) - 1, 0);
  if (n <= 0) return kInstanceHolderUnknown;
  std::string_view text(buffer, static_cast<size_t>(n));
  size_t space = text.find(' ');
  size_t end = text.find('\n');
  if (space == std::string_view::npos || end == std::string_view::npos || end < space) return kInstanceHolderUnknown;
  if (text.substr(space + 1, end - space - 1) != PidNamespace()) return kInstanceHolderUnknown;
  pid_t pid = 0;
  auto [stop, error] = std::from_chars(text.data(), text.data() + space, pid);
  if (error != std::errc() || stop != text.data() + space || pid <= 0) return kInstanceHolderUnknown;
  return pid;
}

}  // namespace

int AcquireInstanceLock(const std::string& folder) {
  int fd = ::open(InstanceLockPath(folder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return kInstanceLockUnavailable;
  struct flock lock = WholeFileWriteLock();
  if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return error == EACCES || error == EAGAIN ? kInstanceLockHeld : kInstanceLockUnavailable;
  }
  RecordHolder(fd);
  return fd;
}

pid_t InstanceLockHolder(const std::string& folder) {
  int fd = ::open(InstanceLockPath(folder).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct flock lock = WholeFileWriteLock();
  bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  // A pid left in the file by a process that has ended means nothing: only a
  // held lock says a gateway runs.
  pid_t holder = held ? ReadHolder(fd) : 0;
  ::close(fd);
  // This process's own lock conflicts with the look above too (another open
  // file description), but it is no other gateway.
  return holder == ::getpid() ? 0 : holder;
}

}  // namespace brindlex
