#include "http/http_protocol.h"

#include <algorithm>
#include <cstdint>

#include "core/connection.h"
#include "http/http_cache.h"
#include "http/http_request.h"
#include "http/response_processing.h"
#include "net/protocol_handlers.h"
#include "net/relay.h"

namespace brindlex {

namespace {

bool Relaying(const ConnectionRecord& r) {
  return r.state == ConnectionState::kRelay || r.state == ConnectionState::kTunnel;
}

bool ClientInput(ConnectionRecord& r) {
  if (r.state == ConnectionState::kAwaitingHead) {
    if (HttpRequestStep(r)) return false;
    OpeningComplete(r);
    HttpHandOver(r);
    return true;
  }
  if (r.state == ConnectionState::kRelay) {
    ForwardMessageBody(r);
    return true;
  }
  if (r.state == ConnectionState::kTunnel) {
    MoveToServer(r, r.clientIn, r.clientInLength);
    return true;
  }
  r.clientInLength = 0;
  return true;
}

// A client may end its input once its request is complete (as "nc -N"
// does); that ends the request, not the wish for its answer.
InputEnd ClientInputEnded(const ConnectionRecord& r) {
  switch (r.state) {
    case ConnectionState::kHeadParsed:
    case ConnectionState::kRevalidating:
    case ConnectionState::kRevalidated:
      return InputEnd::kAnswerFollows;
    case ConnectionState::kRelay:
      // A tunnel through the parent proxy hands the end on like our own.
      if (r.requestBody.framing == MessageBody::Framing::kTunnel) return InputEnd::kPassedOn;
      return RequestComplete(r) ? InputEnd::kAnswerFollows : InputEnd::kConnectionEnds;
    case ConnectionState::kTunnel:
      return InputEnd::kPassedOn;
    default:
      if (InFtpDialogue(r)) return InputEnd::kAnswerFollows;
      // No complete head yet, or not a proxy request at all.
      return InputEnd::kConnectionEnds;
  }
}

void ServerInput(ConnectionRecord& r) {
  // A revalidation answer either serves the object (kRevalidated, serverIn
  // discarded) or becomes an ordinary response relayed at once.
  if (r.state == ConnectionState::kRevalidating) RevalidationAnswer(r);
  if (r.state == ConnectionState::kRevalidating) return;
  if (InFtpDialogue(r)) {
    FtpServerInput(r);
    return;
  }
  if (Relaying(r)) {
    MoveToClient(r, r.serverIn, r.serverInLength);
    return;
  }
  r.serverInLength = 0;
}

void AnswerEnded(ConnectionRecord& r, bool clean) {
  if (clean)
    FinishObject(r);
  else
    AbandonObject(r);
}

int ServerBytesToMove(ConnectionRecord& r, char* source, int& sourceLength, int movable) {
  return r.state == ConnectionState::kRelay ? ResponseBytesToMove(r, source, sourceLength, movable) : movable;
}

// A tunnel's bytes, and a response body with no object being written, are
// nobody's business here; bytes past a declared length are not the answer's.
int BypassRoom(const ConnectionRecord& r, int room) {
  if (r.state == ConnectionState::kTunnel) return room;
  if (r.state != ConnectionState::kRelay || r.cacheWriteFile >= 0) return 0;
  if (r.responseState == kResponseNotStored) return room;
  if (r.responseState != kResponseBody) return 0;
  if (r.contentLength == -1) return room;
  return static_cast<int>(std::clamp<std::int64_t>(r.contentLength - r.bodyBytes, 0, room));
}

void Bypassed(ConnectionRecord& r, int n) {
  if (r.state == ConnectionState::kRelay) CountPassedResponseBytes(r, n);
}

}  // namespace

void RegisterHttpProtocol() {
  ProtocolHandlers handlers;
  handlers.clientInput = ClientInput;
  handlers.clientInputEnded = ClientInputEnded;
  handlers.serverInput = ServerInput;
  handlers.beforeWait = StreamReadFile;
  handlers.answerEnded = AnswerEnded;
  handlers.serverBytesToMove = ServerBytesToMove;
  handlers.bypassRoom = BypassRoom;
  handlers.bypassed = Bypassed;
  RegisterProtocolHandlers(kServiceHttp, handlers);
}

}  // namespace brindlex
