// The two gates a request passes once its target is known: who the client is
// (identification) and whether that user may have what it asked for (the
// access check).
//
// Users exist, but identifying a connection and checking its rules are not
// built yet: for now nobody is identified and nothing is refused, so only
// local servers are reachable through the HTTP proxy (everyone else gets the
// 407 challenge). The request path already calls these at the right places;
// the identification work replaces the bodies, not the callers.
// Worker thread of the connection only.
#pragma once

#include <cstdint>

namespace brindlex {

struct ConnectionRecord;
struct UserRecord;

// Attributes the connection to a user from its address and the credentials
// the handler put into it (proxyLogin, proxyPassword, ...). Returns the user,
// or nullptr when the connection stays unattributed. For now: nullptr.
const UserRecord* IdentifyConnection(ConnectionRecord& record);

// The user the connection is attributed to, or nullptr. For now: nullptr.
const UserRecord* ConnectionUser(const ConnectionRecord& record);

// Decides once whether the connection may proceed: the full check, or with
// `documentMode` only the document size against `contentLength`. A refusal
// answers the client itself, sets serverFinished and marks the connection
// local, and returns false. For now everything is allowed.
bool CheckAccess(ConnectionRecord& record, bool documentMode, std::int64_t contentLength);

}  // namespace brindlex
