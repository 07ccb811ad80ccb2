// Every answer the gateway itself gives an HTTP client: a status text, the
// two header lines of string 415, then a page built from the installation's
// template ("message.html", or "restrictions.html" for refusals) around a
// message. Worker thread of the connection only.
#pragma once

#include <string_view>

namespace brindlex {

struct ConnectionRecord;

enum ReplyKind : int {
  kReplyText = 0,          // 200, the given text
  kReplyNotFound = 2,      // 404, message 421
  kReplyProxyAuth = 3,     // 407 with the Basic challenge, message 422
  kReplyTunnel = 5,        // 200 Connection established, no page; stays open
  kReplyFtpDisabled = 7,   // 200, message 426
  kReplyDialUpDenied = 8,  // 200, message 427
  kReplyWwwAuth = 9,       // 401 with the Basic challenge, message 422
  kReplyRestriction = 100  // 100 and above: the refusal page with the given text
};

// Replaces everything queued for the client with the answer of `kind` and
// discards the client's unread input. Every kind but kReplyTunnel finishes the
// connection (serverFinished). A template that needs user data the connection
// does not have turns the answer into kReplyProxyAuth.
void SendReplyPage(ConnectionRecord& record, int kind, std::string_view text = {});

}  // namespace brindlex
