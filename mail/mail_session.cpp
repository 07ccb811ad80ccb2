#include "mail/mail_session.h"

#include <cstring>
#include <string>

#include "core/chars.h"
#include "core/file_io.h"
#include "http/access_gate.h"
#include "http/next_hop.h"
#include "net/relay.h"

namespace brindlex {

void EndWithReply(ConnectionRecord& r, std::string_view reply) {
  ReplaceClientOutput(r, reply);
  r.serverFinished = true;
}

std::optional<std::string_view> ClientLine(ConnectionRecord& r, std::string_view tooLong) {
  std::string_view in(r.clientIn, static_cast<size_t>(r.clientInLength));
  size_t length = FirstLineLength(in);
  if (length > 0) return in.substr(0, length);
  if (r.clientInLength == kBufferSize) EndWithReply(r, tooLong);
  return std::nullopt;
}

bool ConnectMailServer(ConnectionRecord& r, MailProtocol protocol, std::string_view connectFailed) {
  const UserRecord* user = IdentifyConnection(r);
  MailServerChoice choice = ChooseMailServer(*MailRules(), r.proxyLogin, protocol);
  r.host = choice.server.substr(0, kHostMax);
  r.url = r.host;
  r.serverPort = choice.port;
  if (!ResolveTarget(r, r.host)) {
    EndWithReply(r, connectFailed);
    return false;
  }
  if (!r.localServer && !user) {
    RefuseUnidentified(r);
    return false;
  }
  // A rule's server is the administrator's choice; a domain without a rule is
  // the client's, and may not name the gateway's own loopback.
  if (!choice.byRule && !CheckDestination(r)) return false;
  if (!CheckAccess(r, false, -1)) return false;
  if (ConnectUpstream(r) != UpstreamResult::kConnected) {
    EndWithReply(r, connectFailed);
    return false;
  }
  return true;
}

void ServerFailed(ConnectionRecord& r, std::string_view reply) {
  r.serverInLength = 0;
  EndWithReply(r, reply);
  CloseDescriptor(r.serverSocket);
}

bool ServerEndUnanswered(const ConnectionRecord& r, bool awaitingServer) {
  return awaitingServer && r.serverSocket >= 0 && !r.clientClosed && !r.closeRequested;
}

bool Replay(ConnectionRecord& r, std::string_view line) {
  r.serverInLength = 0;
  if (static_cast<int>(line.size()) > kBufferSize - r.serverOutLength) {
    Close(r);
    return false;
  }
  std::memcpy(r.serverOut + r.serverOutLength, line.data(), line.size());
  r.serverOutLength += static_cast<int>(line.size());
  return true;
}

void StartRelay(ConnectionRecord& r, std::string_view line, ConnectionState relay) {
  if (!Replay(r, line)) return;
  r.state = relay;
  // The client has said all the gateway needs: from here on the dialogue is
  // the server's, and its pauses are the user's.
  OpeningComplete(r);
  MoveToServer(r, r.clientIn, r.clientInLength);
  // An end of input that came while the replay was due reaches the server
  // after it.
  if (r.clientInputEnded) r.passInputEnd = true;
}

}  // namespace brindlex
