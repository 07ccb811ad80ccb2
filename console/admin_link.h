// The administration channel as both of its ends see it, without the socket:
// the console's remote engine sends calls through an AdminLink and receives
// the gateway's pushes; the gateway's server hands each call to a serving
// function and pushes monitor lines and refresh requests to every console.
//
// A call is a number (AdminCall) and its arguments encoded by
// console/admin_records.h; its reply is the result encoded the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brindlex {

// What the gateway sends a console unasked. The payload of each kind:
//   kMonitorLine   the line's text
//   kMailStatus    the mail sender's progress text (the status bar)
//   kRefresh       one byte of RefreshBits: what the gateway's main timer
//                  asked of its views this second
//   kFarewell      the text the gateway says before it closes the link (its
//                  shutdown, or a console that broke the protocol)
enum class AdminPush : std::uint8_t { kMonitorLine = 1, kMailStatus = 2, kRefresh = 3, kFarewell = 4 };

enum RefreshBits : std::uint8_t {
  kRefreshTree = 1,
  kRefreshPerSecond = 2,
  kRefreshUsers = 4,
  kRefreshTray = 8,
  kRefreshSpeed = 16,
};

// Hooks of one call while the console waits for its reply.
struct AdminCallHooks {
  // A progress frame of this call (the counter rebuild's steps).
  std::function<void(std::string_view payload)> progress;
  // Asked about every 50 ms while waiting; true sends the gateway an abort
  // for this call, which it honours where the call can stop early.
  std::function<bool()> abort;
};

// The console's end. Calls are made on the console's thread only.
class AdminLink {
 public:
  virtual ~AdminLink() = default;
  // Sends one call and waits for its reply's payload. Nothing when the link is
  // down or goes down before the reply, or when the gateway refused the call.
  virtual std::optional<std::string> Call(std::uint16_t call, std::string_view args,
                                          const AdminCallHooks& hooks = {}) = 0;
  // Hands every push received so far to `handler`, in order, on the calling
  // thread (the console's timer calls it); never inside Call.
  virtual void DeliverPushes(const std::function<void(AdminPush kind, std::string_view payload)>& handler) = 0;
};

// The gateway's end: what a call may do besides returning its reply.
struct AdminCallContext {
  // Runs `work` on the gateway's main thread and returns when it has run (the
  // thread the engine's tables expect most commands on).
  std::function<void(const std::function<void()>& work)> runOnMainThread;
  // Queues a progress frame of this call; dropped when the console's queue is
  // full. Any thread.
  std::function<void(std::string payload)> progress;
  // The console asked to abort this call, or went away.
  std::function<bool()> aborted;
};

// Serves one call: the encoded result, or nothing when the call is unknown or
// its arguments do not decode (the server then closes the link: that console
// breaks the protocol).
using AdminServeFn =
    std::function<std::optional<std::string>(std::uint16_t call, std::string_view args, const AdminCallContext& context)>;

}  // namespace brindlex
