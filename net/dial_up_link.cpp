#include "net/dial_up_link.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace brindlex {

namespace {

std::atomic<bool> g_linkUp{false};
std::atomic<bool> g_answered{false};

std::mutex g_requestLock;
std::condition_variable g_request;
bool g_requested = false;  // guarded by g_requestLock

}  // namespace

bool DialUpLinkUp() { return g_linkUp.load(); }
void SetDialUpLinkUp(bool up) { g_linkUp.store(up); }

bool DialUpAnswered() { return g_answered.load(); }
void SetDialUpAnswered(bool answered) { g_answered.store(answered); }

void NotifyDialRequest() {
  std::lock_guard<std::mutex> lock(g_requestLock);
  g_requested = true;
  g_request.notify_all();
}

void SleepUntilDialRequest(int ms) {
  std::unique_lock<std::mutex> lock(g_requestLock);
  g_request.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_requested; });
  g_requested = false;
}

}  // namespace brindlex
