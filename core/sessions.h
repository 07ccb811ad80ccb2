// Client addresses with recent activity (one SessionRecord each), the session
// list that holds them, and admission of a new connection.
//
// Everything here is guarded by the accounts lock; functions whose name ends
// in "Locked" expect the caller to hold it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/counters.h"
#include "core/value_codec.h"

namespace brindlex {

struct ConnectionRecord;
struct SystemSettings;
struct UserRecord;

// One user working from one client address.
struct UserSession {
  UserRecord* user = nullptr;
  // Performance-counter value of the last time step; 0 = never stamped.
  std::int64_t stamp = 0;
  CounterBlock counters;  // since the last session log line
  std::atomic<bool> closeRequested{false};
  std::vector<ConnectionRecord*> connections;
  // Current speed limit in KB/s, 0 = none. Starts as the user's normal speed
  // and drops to the exceeded speed once a limit is passed.
  std::atomic<double> speed{0};
  // The session's speed budget: its connections take speedLock around one
  // piece of I/O while a limit applies, so the limit holds for the user as a
  // whole. periodStart and budget are guarded by speedLock.
  std::mutex speedLock;
  std::int64_t periodStart = 0;
  std::int32_t budget = 0;
};

struct SessionRecord {
  Ipv4 address = 0;
  std::vector<std::unique_ptr<UserSession>> userSessions;
  // Seconds since the last activity, kept by the main timer; a negative value
  // means the address is being closed and refuses new connections.
  std::int32_t idle = 0;
  std::int32_t openConnections = 0;
  std::vector<ConnectionRecord*> unattributed;  // open connections without user
};

std::vector<std::unique_ptr<SessionRecord>>& SessionListLocked();

// The first SessionRecord of the address, or a new one appended to the list;
// its open-connection count is raised by one.
SessionRecord* FindOrCreateSessionLocked(Ipv4 address);

// An address list element: a range "a.b.c.d-e.f.g.h" (as the editor writes
// it), a single address "a.b.c.d", or a network "a.b.c.d/n" (n from 0 to 32;
// the host bits of the address are ignored). Blanks around the parts are
// allowed. Nothing for anything else.
struct AddressRange {
  Ipv4 first = 0;
  Ipv4 last = 0;
};
std::optional<AddressRange> ParseAddressRange(std::string_view text);
// True when the address lies in the element's range (unsigned comparison); an
// element that is no range admits nothing.
bool AddressInRange(const std::string& range, Ipv4 address);
// An empty list admits every address; otherwise the address must lie in at
// least one valid range.
bool AddressListAdmits(const std::vector<std::string>& ranges, Ipv4 address);
// An empty interface list admits every local address; otherwise one element
// must parse to the local address.
bool InterfaceAdmits(const std::vector<std::string>& interfaces, Ipv4 localAddress);

// The address tests of admission, for TCP clients and DNS queries alike:
// UsersAddrs must admit the client address and InInterface the local
// address the client came to. No lock needed.
bool AddressesAdmitted(const SystemSettings& settings, Ipv4 clientAddress, Ipv4 localAddress);
// Admission of an accepted connection: the address list of UsersAddrs and the
// interface test of InInterface, then the client address's SessionRecord with
// its open-connection count raised. Returns false on refusal. `session` is set
// whenever the count was raised, so the close bookkeeping can lower it again.
bool AdmitLocked(Ipv4 clientAddress, Ipv4 localAddress, SessionRecord*& session);
// Its last step alone, for a service with its own test of the client
// address: false when the address is being closed from the console.
bool AdmitSessionLocked(Ipv4 clientAddress, SessionRecord*& session);

}  // namespace brindlex
