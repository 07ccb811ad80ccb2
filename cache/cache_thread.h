// TCachThread: the background thread that keeps the cache index and the
// Cache folder in step. Each pass scans the folder (matching object files to
// records, deleting files without one), applies the size cap and the age
// limit, saves the index when it changed and shrinks a mostly empty block.
//
// A pass runs at start, soon after the store hands over work (RequestCachePass)
// and otherwise once every passInterval, for the age limit and for files
// changed behind the thread's back; between passes the thread sleeps.
//
// Threads: one instance, created on the main thread at start-up and stopped at
// shutdown after every connection worker has ended. The pass steps are public
// so tests can run them one by one on their own thread without the loop; the
// running thread must not be started then.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace brindlex {

class TCachThread {
 public:
  // Empties the shared index and loads the index file into it.
  TCachThread();
  // Stops the thread if it runs.
  ~TCachThread();
  TCachThread(const TCachThread&) = delete;
  TCachThread& operator=(const TCachThread&) = delete;

  void Start();
  // Sets the terminate flag, wakes the thread from its pause or its wait for
  // work and waits for it to end; the index is saved first if it changed.
  // Safe to call twice.
  void Stop();

  // One pass of the loop.
  void RunPass();
  // Matches object files to records and deletes the others, pausing
  // filePause after each object file; ends early on terminate.
  void FolderScan();
  // Size cap (evicting the least recently used down to 95 %), then the age
  // limit and compaction. Uses the total size of the last scan.
  void AgeAndSizeLimits();

  // Waits until `count` passes have been completed in all (a pass that threw
  // counts), the thread ended, or `limit` went by. Returns whether the passes
  // were completed.
  bool WaitForPasses(std::uint64_t count, std::chrono::milliseconds limit);
  std::uint64_t PassCount();

  // Pauses; set before Start. After a pass the thread pauses passPause, so
  // that a burst of requests is served by few passes, then waits for a
  // request at most passInterval.
  std::chrono::milliseconds filePause{100};
  std::chrono::milliseconds passPause{10};
  std::chrono::milliseconds passInterval{std::chrono::minutes(1)};

  // Bytes of object files the last scan matched to records. Own thread only.
  std::int64_t totalSize = 0;
  std::atomic<int> stepMarker{0};

 private:
  void Run();
  // Waits for `pause` or the terminate flag; returns whether terminated.
  bool Pause(std::chrono::milliseconds pause);

  std::atomic<bool> terminated_{false};
  std::thread thread_;

  // Guarded by wakeMutex_.
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  std::uint64_t passes_ = 0;
  bool ended_ = false;
};

// The process's cache thread: created (loading the index) and started at
// start-up; stopped and freed at shutdown, last of the service threads.
void StartCacheThread();
void StopCacheThread();

}  // namespace brindlex
