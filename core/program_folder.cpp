#include "core/program_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

// The whole file, for writing. A record lock rather than flock: the kernel
// tells any other process which process holds it (F_GETLK), so the
// command line finds the running gateway without a pid file that could go
// stale. The gateway never opens the lock file a second time, which would
// drop a record lock when closed.
struct flock WholeFileWriteLock() {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return lock;
}

}  // namespace

int AcquireInstanceLock(const std::string& folder) {
  int fd = ::open(InstanceLockPath(folder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return kInstanceLockUnavailable;
  struct flock lock = WholeFileWriteLock();
  if (::fcntl(fd, F_SETLK, &lock) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return error == EACCES || error == EAGAIN ? kInstanceLockHeld : kInstanceLockUnavailable;
  }
  return fd;
}

pid_t InstanceLockHolder(const std::string& folder) {
  int fd = ::open(InstanceLockPath(folder).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct flock lock = WholeFileWriteLock();
  bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  ::close(fd);
  if (!held) return 0;
  // A holder in another pid namespace shows as 0: running, but not ours to signal.
  return lock.l_pid > 0 ? lock.l_pid : kInstanceHolderUnknown;
}

}  // namespace brindlex
