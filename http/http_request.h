// The request step of the HTTP proxy (a connection of service 0 awaiting its
// request head): waits for a complete request head, parses it, rewrites it for
// the next hop, attributes it to a user, applies the access rules, and then
// either answers the client itself or hands the connection on: to the relay
// or to the CONNECT tunnel, or, for an ftp:// URL, to the FTP dialogue.
//
// One request per client connection: the request sent upstream always carries
// "Connection: close" and the connection ends with the response. Bytes the
// client sends after its request's body are not forwarded.
// Worker thread of the connection only.
#pragma once

namespace brindlex {

struct ConnectionRecord;

// The handler of ConnectionState::kAwaitingHead, called whenever clientIn
// holds bytes. Returns true
// while the head is still incomplete (nothing changed); false once the head
// was handled, whatever the outcome.
bool HttpRequestStep(ConnectionRecord& record);

// The relay's share of the client's bytes: the request body as far as the
// head declared it, never a byte beyond (see http/message_body.h). A body
// that breaks its chunked syntax ends the request.
void ForwardMessageBody(ConnectionRecord& record);

// Whether the bytes the client sent so far complete its request's body.
bool RequestComplete(const ConnectionRecord& record);

// Appends the end of the outgoing head to serverOut: the client's conditions
// in normalised form, "Connection: close" and the blank line. The request
// step leaves room for exactly this.
void CompleteOutgoingHead(ConnectionRecord& record);

// What follows a handled head in the same pass: for the relay the completion
// of the head and the connect to the next hop; for the tunnel the connect. A failed connect answers with the 404 page
// (or the dial-up refusal) instead.
void HttpHandOver(ConnectionRecord& record);

// The FTP dialogue of an ftp:// request sits above this layer: it registers
// its handler of the FTP server's replies at start-up (main thread, before
// the listener starts; workers read it without a lock afterwards). Without
// one, an ftp:// request is answered as unavailable.
using FtpReplyHandler = void (*)(ConnectionRecord&);
void RegisterFtpOverHttp(FtpReplyHandler handler);
// Whether the connection is in one of the FTP dialogue's states.
bool InFtpDialogue(const ConnectionRecord& record);
// Hands the FTP server's bytes of such a connection to the dialogue.
void FtpServerInput(ConnectionRecord& record);

}  // namespace brindlex
