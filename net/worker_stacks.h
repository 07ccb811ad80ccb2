// The stacks of the worker threads, owned here rather than by the thread
// library. The library keeps the stacks of ended threads for reuse (up to
// 40 MB of them) with every page they touched still resident, so one burst of
// connections would leave the gateway that much bigger for good. Here an
// ended worker is joined on the main thread and its stack kept only while
// connections keep coming; once the gateway falls idle the kept stacks are
// unmapped.
//
// AcquireWorkerStack and ReleaseWorkerStack may be called from any thread;
// WorkerEnded and ReapWorkers from the main thread. One mutex guards both
// lists and is never held while another lock is taken.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <optional>

namespace brindlex {

struct WorkerStack {
  void* base = nullptr;  // the usable area, above its guard page
  size_t size = 0;
};

struct EndedWorker {
  pthread_t thread;
  WorkerStack stack;
};

// A kept stack or a new mapping; nullopt when none can be mapped.
std::optional<WorkerStack> AcquireWorkerStack();
// Gives back a stack whose thread never started.
void ReleaseWorkerStack(WorkerStack stack);

// The worker has finished its connection; its thread returns right after.
void WorkerEnded(EndedWorker worker);
// Joins the ended workers whose threads have returned (without waiting for
// the others) and keeps or unmaps their stacks; with `releaseKept` every kept
// stack is unmapped as well. Returns how many ended workers remain unjoined.
size_t ReapWorkers(bool releaseKept);

}  // namespace brindlex
