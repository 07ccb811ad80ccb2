// The two gates a request passes once its target is known: who the client is
// (identification) and whether that user may have what it asked for (the
// access check).
//
// Worker thread of the connection only; both take the accounts lock
// themselves, so the caller must not hold it.
#pragma once

#include <cstdint>

namespace brindlex {

struct ConnectionRecord;
struct UserRecord;

// Attributes the connection to a user from its address and the credentials
// the handler put into it (proxyLogin, proxyPassword, ...) and attaches it to
// that user's session, or to its address's unattributed list. Returns the
// user, or nullptr when the connection stays unattributed.
const UserRecord* IdentifyConnection(ConnectionRecord& record);

// Puts the refusal of the connection on the monitor with `message`, the
// number the client was answered with (or would have been, for a service
// that ends silently); `failedLogin` for a client that could not be
// identified.
void ReportRefused(const ConnectionRecord& record, int message, bool failedLogin);

// Answers a client that could not be identified with the login challenge (the
// FTP proxy: "403 User not logged in."; the mail front ends: their
// "Unauthorized" reply; each of these ends the connection) and reports it to
// the monitor as a failed login (with the login it tried).
void RefuseUnidentified(ConnectionRecord& record);

// Refuses a destination the client chose that the gateway does not serve
// (net/upstream.h RefusedDestination) as CheckAccess refuses; true when the
// connection may go on.
bool CheckDestination(ConnectionRecord& record);

// Decides once whether the connection may proceed: the full check, or with
// `documentMode` only the document size against `contentLength`. A refusal
// answers the client itself, sets serverFinished and marks the connection
// local, reports the refusal to the monitor, and returns false. The first
// allowed connection of a session stamps it, so its time is charged from then
// on.
bool CheckAccess(ConnectionRecord& record, bool documentMode, std::int64_t contentLength);

}  // namespace brindlex
