#include "net/worker_stacks.h"

#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <vector>

namespace brindlex {

namespace {

// GCC names the sanitizer in force with a macro; clang only answers
// __has_feature.
#if defined(__has_feature)
#define BRINDLEX_HAS_FEATURE(name) __has_feature(name)
#else
#define BRINDLEX_HAS_FEATURE(name) 0
#endif

// Workers keep no large buffers on their stacks; this is ample and keeps 500
// idle connections cheap in address space.
#if defined(__SANITIZE_THREAD__) || BRINDLEX_HAS_FEATURE(thread_sanitizer)
constexpr size_t kStackSize = 2 * 1024 * 1024;  // the sanitizer keeps ~900 KB of its own there
#elif defined(__SANITIZE_ADDRESS__) || BRINDLEX_HAS_FEATURE(address_sanitizer)
constexpr size_t kStackSize = 1024 * 1024;  // sanitizer frames are larger
#else
constexpr size_t kStackSize = 256 * 1024;
#endif
// Stacks kept for the next connections while the gateway is busy.
constexpr size_t kKeptStacks = 128;

size_t GuardSize() {
  static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return page;
}

struct Stacks {
  std::mutex mutex;
  std::vector<WorkerStack> kept;
  std::vector<EndedWorker> ended;
};

Stacks& TheStacks() {
  static Stacks stacks;
  return stacks;
}

void Unmap(WorkerStack stack) { ::munmap(static_cast<char*>(stack.base) - GuardSize(), stack.size + GuardSize()); }

}  // namespace

std::optional<WorkerStack> AcquireWorkerStack() {
  Stacks& stacks = TheStacks();
  {
    std::lock_guard<std::mutex> lock(stacks.mutex);
    if (!stacks.kept.empty()) {
      WorkerStack stack = stacks.kept.back();
      stacks.kept.pop_back();
      return stack;
    }
  }
  size_t guard = GuardSize();
  void* area = ::mmap(nullptr, kStackSize + guard, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK | MAP_NORESERVE, -1, 0);
  if (area == MAP_FAILED) return std::nullopt;
  if (::mprotect(area, guard, PROT_NONE) != 0) {
    ::munmap(area, kStackSize + guard);
    return std::nullopt;
  }
  return WorkerStack{static_cast<char*>(area) + guard, kStackSize};
}

void ReleaseWorkerStack(WorkerStack stack) {
  Stacks& stacks = TheStacks();
  {
    std::lock_guard<std::mutex> lock(stacks.mutex);
    if (stacks.kept.size() < kKeptStacks) {
      stacks.kept.push_back(stack);
      return;
    }
  }
  Unmap(stack);
}

void WorkerEnded(EndedWorker worker) {
  Stacks& stacks = TheStacks();
  std::lock_guard<std::mutex> lock(stacks.mutex);
  stacks.ended.push_back(worker);
}

size_t ReapWorkers(bool releaseKept) {
  Stacks& stacks = TheStacks();
  std::vector<WorkerStack> joined, unmapped;
  size_t remaining = 0;
  {
    std::lock_guard<std::mutex> lock(stacks.mutex);
    auto& ended = stacks.ended;
    for (size_t i = 0; i < ended.size();) {
      if (::pthread_tryjoin_np(ended[i].thread, nullptr) == 0) {
        joined.push_back(ended[i].stack);
        ended[i] = ended.back();
        ended.pop_back();
      } else {
        ++i;
      }
    }
    remaining = ended.size();
    for (WorkerStack stack : joined) {
      if (!releaseKept && stacks.kept.size() < kKeptStacks)
        stacks.kept.push_back(stack);
      else
        unmapped.push_back(stack);
    }
    if (releaseKept) {
      unmapped.insert(unmapped.end(), stacks.kept.begin(), stacks.kept.end());
      stacks.kept.clear();
    }
  }
  for (WorkerStack stack : unmapped) Unmap(stack);
  return remaining;
}

}  // namespace brindlex
