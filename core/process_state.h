// Process-wide flags and the accounts lock.
//
// Lock discipline: the accounts lock guards the session list, every
// UserSession, the connection list, the users' counter blocks and
// subscriptions, and every access from one connection record to a linked one.
// The cache index lock (owned by the cache store) is never held together with
// it; where both would be needed, take the accounts lock first. Never hold the
// accounts lock while calling MainLoop::RunSync: the main thread may need it.
//
// The flags are single atomic bytes written without any lock; a reader may see
// a change one pass late.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace brindlex {

std::mutex& AccountsLock();

struct ProcessFlags {
  std::atomic<bool> shutdown{false};
  std::atomic<bool> fatalStop{false};
  std::atomic<bool> treeDirty{false};
  std::atomic<bool> usersDirty{false};
  // The process's exit code after the orderly shutdown: 0, or 1 when it
  // stopped because it could not serve at all.
  std::atomic<int> exitCode{0};
};
ProcessFlags& Flags();

// Sets the shutdown flag and makes ShutdownWakeFd readable for good, so that
// threads in a long wait notice at once.
void BeginShutdown();
// An eventfd for poll (-1 if none could be made; the flag still works).
int ShutdownWakeFd();

}  // namespace brindlex
