#include "core/process_state.h"

namespace brindlex {

std::mutex& AccountsLock() {
  static std::mutex lock;
  return lock;
}

ProcessFlags& Flags() {
  static ProcessFlags flags;
  return flags;
}

}  // namespace brindlex
