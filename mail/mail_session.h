// What the SMTP and POP3 front ends share: the gateway answers the client's
// first commands itself, learns the user's mail address, connects to the mail
// server of the address's domain, replays the commands it took and from then
// on relays both directions unchanged.
//
// Worker thread of the connection only.
#pragma once

#include <optional>
#include <string_view>

#include "core/connection.h"
#include "mail/mail_rules.h"

namespace brindlex {

// Answers the client with `reply` and ends the connection once it is out.
void EndWithReply(ConnectionRecord& r, std::string_view reply);

// The first complete line of clientIn, while the gateway takes commands
// itself; nullopt while none has arrived. A buffer full without a line end
// holds no command the gateway could take: it is answered with `tooLong`.
std::optional<std::string_view> ClientLine(ConnectionRecord& r, std::string_view tooLong);

// proxyLogin holds the user's mail address: identifies the user, chooses and
// resolves the server (host, url and serverPort), refuses an unidentified
// client, a domain naming the gateway's own loopback and what the user's
// rules deny, and connects. False when the client has been answered and the
// connection ends (`connectFailed` when the server could not be reached).
bool ConnectMailServer(ConnectionRecord& r, MailProtocol protocol, std::string_view connectFailed);

// The server failed before the relay (a negative reply, no reply, or its
// end): the client is answered with `reply` and the server's connection is
// closed at once, so that its end is answered only once.
void ServerFailed(ConnectionRecord& r, std::string_view reply);
// Whether the server's end is still to be answered: the gateway awaits its
// replies (`awaitingServer`) and has neither answered nor been closed.
bool ServerEndUnanswered(const ConnectionRecord& r, bool awaitingServer);

// The server's text so far is dropped and `line` goes to it. False when the
// line does not fit (the connection is closed).
bool Replay(ConnectionRecord& r, std::string_view line);
// The last replay: after `line` goes what the client sent meanwhile, and the
// relay begins in state `relay`.
void StartRelay(ConnectionRecord& r, std::string_view line, ConnectionState relay);

}  // namespace brindlex
