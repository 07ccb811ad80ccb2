// Port-mapping rules: each makes the gateway listen on a local TCP or UDP port
// and relay what arrives there to one fixed destination. The rule list is read
// at start, replaced as a whole when the configuration changes, and read by
// the listener, which keeps each rule's listening socket in the rule itself
// so that a replaced list goes on with the sockets of the rules it kept.
//
// Threads: the list is guarded by its own lock (never held while waiting for
// the accounts lock or the main thread); PortMapSocket is shared by the
// listener, the rule and the UDP conversations that answer through it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/value_codec.h"

namespace brindlex {

struct ConnectionRecord;

// A rule's listening socket. It is closed when the last holder lets it go: a
// UDP conversation answers its client through the rule's socket, so one that
// is still running keeps it open after the listener has given it up.
class PortMapSocket {
 public:
  explicit PortMapSocket(int fd) : fd_(fd) {}
  ~PortMapSocket();
  PortMapSocket(const PortMapSocket&) = delete;
  PortMapSocket& operator=(const PortMapSocket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

enum PortMapProtocol : std::uint8_t { kPortMapTcp = 0, kPortMapUdp = 1 };
enum PortMapSource : std::uint8_t { kSourceAny = 0, kSourceUsersAddrs = 1, kSourceRange = 2 };

struct PortMapRule {
  std::string name;  // unique without regard to case; the key in the settings file
  std::uint8_t protocol = kPortMapTcp;
  std::uint8_t sourceKind = kSourceAny;
  Ipv4 sourceFrom = 0;
  Ipv4 sourceTo = 0;
  Ipv4 listenAddress = 0;  // 0: every local address; a UDP rule always listens on all
  std::uint16_t listenPort = 0;
  std::string destHost;  // a ":port" at its end overrides destPort
  std::uint16_t destPort = 0;
  bool authByClient = false;
  std::string login;  // the fixed user; empty: the user is found by the client's address
  bool disabled = false;
  std::shared_ptr<PortMapSocket> socket;  // not stored; set by the listener

  bool IsUdp() const { return protocol == kPortMapUdp; }
};

// Whether a client address may use the rule: any address, one that the
// address list `usersAddrs` admits, or one inside [sourceFrom, sourceTo]
// (unsigned comparison, both ends included).
bool SourceAdmits(const PortMapRule& rule, Ipv4 client, const std::vector<std::string>& usersAddrs);

// A copy of the rule list in force.
std::vector<PortMapRule> PortMapRules();
// Replaces the list as a whole (the listener opens and closes sockets at its
// next reopen, which the caller asks for).
void ReplacePortMapRules(std::vector<PortMapRule> rules);
// Runs `change` on the list in force under its lock; for the listener, which
// gives rules their sockets. `change` must not wait for anything.
void ChangePortMapRules(const std::function<void(std::vector<PortMapRule>&)>& change);

// A list read afresh from the file knows nothing of sockets: each rule that
// listens exactly as an enabled rule of the same name in `current` did takes
// over that rule's socket, so that its clients and conversations go on.
void CarryOverSockets(const std::vector<PortMapRule>& current, std::vector<PortMapRule>& fresh);

// A UDP conversation that has passed no datagram either way for longer than
// this ends; the client's next datagram starts a new one.
inline constexpr std::int64_t kConversationIdleMs = 8000;
// Whether a conversation has gone quiet at counter value `now`: nothing
// waiting to be relayed, and its last datagram more than kConversationIdleMs
// ago. Caller holds the accounts lock.
bool ConversationIdleLocked(const ConnectionRecord& record, std::int64_t now);

}  // namespace brindlex
