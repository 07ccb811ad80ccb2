// The threads that run connection workers. A thread that has served its
// connection waits a while for the next one instead of ending: starting a
// thread and ending it cost a short connection (a small page, a SOCKS5
// handshake) as much as the rest of its opening, and a burst of connections
// would otherwise start a thread for each. A parked thread that gets nothing
// for a second ends, so an idle gateway keeps none; its stack goes back to
// the kept stacks (net/worker_stacks.h) through the main thread.
//
// Any thread may hand over work; one mutex guards the parked threads and is
// never held while another lock is taken or a job runs.
#pragma once

#include <cstddef>

namespace brindlex {

using WorkerJob = void (*)(void* item);

// Runs job(item) on a parked thread, or on a new one. False when no thread
// could be had (the job has not run).
bool RunOnWorkerThread(WorkerJob job, void* item);

// Threads running a job or parked.
size_t LiveWorkerThreads();

// For the shutdown: parked threads end now, and a thread that finishes its
// job from now on ends instead of parking.
void EndParkedWorkers();

}  // namespace brindlex
