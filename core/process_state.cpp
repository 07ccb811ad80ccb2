#include "core/process_state.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace brindlex {

std::mutex& AccountsLock() {
  static std::mutex lock;
  return lock;
}

ProcessFlags& Flags() {
  static ProcessFlags flags;
  return flags;
}

int ShutdownWakeFd() {
  static const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd;
}

void BeginShutdown() {
  Flags().shutdown = true;
  int fd = ShutdownWakeFd();
  if (fd >= 0) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(fd, &one, sizeof(one));
  }
}

}  // namespace brindlex
