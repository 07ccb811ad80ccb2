// Client addresses with recent activity (one SessionRecord each), the session
// list that holds them, and admission of a new connection.
//
// Everything here is guarded by the accounts lock; functions whose name ends
// in "Locked" expect the caller to hold it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/value_codec.h"

namespace brindlex {

struct ConnectionRecord;

struct SessionRecord {
  Ipv4 address = 0;
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

// Address ranges "a.b.c.d-e.f.g.h": true when the address lies in the range
// (unsigned comparison); an element without '-' or with an unparsable address
// is no range at all.
bool AddressInRange(const std::string& range, Ipv4 address);
// An empty list admits every address; otherwise the address must lie in at
// least one valid range.
bool AddressListAdmits(const std::vector<std::string>& ranges, Ipv4 address);
// An empty interface list admits every local address; otherwise one element
// must parse to the local address.
bool InterfaceAdmits(const std::vector<std::string>& interfaces, Ipv4 localAddress);

// Admission of an accepted connection: the address list of UsersAddrs and the
// interface test of InInterface, then the client address's SessionRecord with
// its open-connection count raised. Returns false on refusal. `session` is set
// whenever the count was raised, so the close bookkeeping can lower it again.
bool AdmitLocked(Ipv4 clientAddress, Ipv4 localAddress, SessionRecord*& session);

}  // namespace brindlex
