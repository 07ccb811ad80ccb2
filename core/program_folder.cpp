#include "core/program_folder.h"

#include <fcntl.h>
#include <sys/file.h>
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

int AcquireInstanceLock(const std::string& folder) {
  std::string path = folder + "/brindlex.lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return kInstanceLockUnavailable;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return error == EWOULDBLOCK ? kInstanceLockHeld : kInstanceLockUnavailable;
  }
  return fd;
}

}  // namespace brindlex
