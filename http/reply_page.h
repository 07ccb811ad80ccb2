// Every answer the gateway itself gives an HTTP client: a status text, the
// two header lines of string 415, then a page built from the installation's
// template ("message.html", or "restrictions.html" for refusals) around a
// message. Worker thread of the connection only.
#pragma once

#include <string>

namespace brindlex {

struct ConnectionRecord;

enum class ReplyKind : int {
  kNotFound = 2,       // 404, message 421
  kProxyAuth = 3,      // 407 with the Basic challenge, message 422
  kTunnel = 5,         // 200 Connection established, no page; stays open
  kFtpDisabled = 7,    // 200, message 426
  kDialUpDenied = 8,   // 200, message 427
  kWwwAuth = 9,        // 401 with the Basic challenge, message 422
  kBadRequest = 10,    // 400, message 421: a head that cannot be forwarded
  kHeadTooLarge = 11,  // 431, message 421: a head that does not end in time
};

// The message of the login challenges.
inline constexpr int kProxyAuthMessage = 422;

// Replaces everything queued for the client with the answer of `kind` and
// discards the client's unread input. Every kind but kTunnel finishes the
// connection (serverFinished). A template that needs user data the connection
// does not have turns the answer into kProxyAuth.
void SendReplyPage(ConnectionRecord& record, ReplyKind kind);

// Reply kind 0: a 200 answer with the message page around a message built
// by the caller (HTML as it stands).
void SendMessagePage(ConnectionRecord& record, const std::string& message);

// The same for a refusal: a 200 answer with the restrictions page around the
// message numbered `messageNumber` (487 and up: limits, filters, schedules).
void SendRefusalPage(ConnectionRecord& record, int messageNumber);

}  // namespace brindlex
