// The console's end of the administration channel: a link to the local
// gateway's socket, or to a gateway elsewhere over TLS with the
// administrator's password. A thread of its own connects, reads and writes;
// it pings the gateway every so often, counts the link down when the
// gateway falls silent, and connects again by itself when the gateway comes
// back (a restart).
//
// Over TLS the gateway's certificate fingerprint is pinned per target in the
// known-gateways file, as ssh does with host keys: an unknown or changed
// fingerprint is put to the administrator (a callback) and refused unless he
// accepts it.
//
// Threads: Call and DeliverPushes on the console's thread (AdminLink's
// rules); State from any thread. The callbacks run on the link's thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "console/admin_link.h"

namespace brindlex {

struct AdminClientTimings {
  std::chrono::milliseconds ping{10000};
  std::chrono::milliseconds silence{30000};  // the link is counted down
  std::chrono::milliseconds reconnect{2000};
  std::chrono::milliseconds connect{10000};  // connect, TLS and hello
};

struct AdminClientOptions {
  // The local gateway's program folder, used when `host` is empty.
  std::string programFolder;
  std::string host;
  int port = 0;
  // An unknown (changed = false) or changed fingerprint of `target`
  // ("host:port"): true accepts and pins it. Unset: refused.
  std::function<bool(const std::string& target, const std::string& fingerprint, bool changed)> confirmFingerprint;
  // The administrator's password for a TLS link; nothing gives up until
  // Reconnect().
  std::function<std::optional<std::string>()> password;
  std::string pinFile;  // "" = KnownGatewaysPath()
  AdminClientTimings timings;
  std::size_t maxQueuedPushes = 20000;
};

struct AdminLinkState {
  bool up = false;
  std::string gatewayHost;  // from the gateway's welcome
  std::string lastError;    // why the link is down, or the last refusal
};

// $XDG_CONFIG_HOME/brindlex/known_gateways, else ~/.config/brindlex/...
std::string KnownGatewaysPath();
// The fingerprint pinned for `target`, if any.
std::optional<std::string> PinnedFingerprint(const std::string& pinFile, const std::string& target);
// Pins `fingerprint` for `target`, replacing an earlier pin. False when the
// file cannot be written.
bool StorePin(const std::string& pinFile, const std::string& target, const std::string& fingerprint);
// The warning shown for a changed fingerprint.
std::string ChangedFingerprintWarning(const std::string& target, const std::string& pinned,
                                      const std::string& fingerprint);

class AdminClient final : public AdminLink {
 public:
  // Starts connecting at once.
  explicit AdminClient(AdminClientOptions options);
  ~AdminClient() override;
  AdminClient(const AdminClient&) = delete;
  AdminClient& operator=(const AdminClient&) = delete;

  std::optional<std::string> Call(std::uint16_t call, std::string_view args, const AdminCallHooks& hooks = {}) override;
  void DeliverPushes(const std::function<void(AdminPush kind, std::string_view payload)>& handler) override;

  AdminLinkState State() const;
  // Waits until the link is up; false when `timeout` passed first.
  bool WaitUntilUp(std::chrono::milliseconds timeout) const;
  // Waits until the link is down with a reason; false on time-out.
  bool WaitUntilDown(std::chrono::milliseconds timeout) const;
  // Tries again after the client gave up (a fingerprint or password not
  // given).
  void Reconnect();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace brindlex
