#include "mail/smtp_front.h"

#include <string_view>

#include "core/connection.h"
#include "mail/mail_commands.h"
#include "mail/mail_session.h"
#include "net/protocol_handlers.h"
#include "net/relay.h"

namespace brindlex {

namespace {

constexpr std::string_view kPleased = "250 Brindlex: pleased to meet you\r\n";
constexpr std::string_view kClientError = "550 Brindlex: Error reply from client\r\n";
constexpr std::string_view kConnectFailed = "550 Brindlex: Error connected\r\n";

// Await HELO: false once the connection ends.
bool Hello(ConnectionRecord& r, std::string_view line) {
  if (!IsSmtpHello(line) || line.size() >= static_cast<size_t>(kBufferSize)) {
    EndWithReply(r, kClientError);
    return false;
  }
  r.ftpLogin.assign(line);
  DropClientInput(r, line.size());
  QueueToClient(r, kPleased);
  r.state = ConnectionState::kSmtpMail;
  return true;
}

bool AwaitingServer(const ConnectionRecord& r) {
  return r.state == ConnectionState::kSmtpGreeting || r.state == ConnectionState::kSmtpHeloReply;
}

// Await MAIL: false once the connection ends.
bool MailFrom(ConnectionRecord& r, std::string_view line) {
  std::optional<std::string_view> sender = SmtpSender(line);
  if (!sender || line.size() >= static_cast<size_t>(kBufferSize)) {
    EndWithReply(r, kClientError);
    return false;
  }
  r.proxyLogin.assign(*sender);
  r.ftpPassword.assign(line);
  DropClientInput(r, line.size());
  if (!ConnectMailServer(r, MailProtocol::kSmtp, kConnectFailed)) return false;
  r.state = ConnectionState::kSmtpGreeting;
  return true;
}

bool ClientInput(ConnectionRecord& r) {
  while (r.clientInLength > 0 && !r.serverFinished) {
    switch (r.state) {
      case ConnectionState::kSmtp:
      case ConnectionState::kSmtpMail: {
        std::optional<std::string_view> line = ClientLine(r, kClientError);
        if (!line) return false;
        bool goesOn = r.state == ConnectionState::kSmtp ? Hello(r, *line) : MailFrom(r, *line);
        if (!goesOn) return true;
        break;
      }
      case ConnectionState::kSmtpRelay:
        MoveToServer(r, r.clientIn, r.clientInLength);
        return true;
      default:
        // The replay comes first; what the client sent ahead waits.
        return true;
    }
  }
  return true;
}

// Await greeting and await HELO reply: the server's reply, once complete,
// must be positive.
void ReplayStep(ConnectionRecord& r) {
  std::string_view in(r.serverIn, static_cast<size_t>(r.serverInLength));
  size_t length = SmtpReplyLength(in);
  if (length == 0 || SmtpReplyCode(in) / 100 != 2) {
    // A reply may still be on its way, unless the buffer holds no room for
    // it or the server has gone.
    if (length == 0 && r.serverInLength < kBufferSize && !r.serverFinished) return;
    ServerFailed(r, kConnectFailed);
    return;
  }
  if (r.state == ConnectionState::kSmtpGreeting) {
    if (Replay(r, r.ftpLogin)) r.state = ConnectionState::kSmtpHeloReply;
  } else {
    StartRelay(r, r.ftpPassword, ConnectionState::kSmtpRelay);
  }
}

void ServerInput(ConnectionRecord& r) {
  switch (r.state) {
    case ConnectionState::kSmtpGreeting:
    case ConnectionState::kSmtpHeloReply:
      ReplayStep(r);
      break;
    case ConnectionState::kSmtpRelay:
      MoveToClient(r, r.serverIn, r.serverInLength);
      break;
    default:
      r.serverInLength = 0;
      break;
  }
}

InputEnd ClientInputEnded(const ConnectionRecord& r) {
  if (r.state == ConnectionState::kSmtpRelay) return InputEnd::kPassedOn;
  // While the replay is due, the commands the client sent are still served.
  return AwaitingServer(r) ? InputEnd::kAnswerFollows : InputEnd::kConnectionEnds;
}

// A server that closes or fails before its replies is a server that could
// not be reached.
void AnswerEnded(ConnectionRecord& r, bool) {
  if (ServerEndUnanswered(r, AwaitingServer(r))) ServerFailed(r, kConnectFailed);
}

int BypassRoom(const ConnectionRecord& r, int room) { return r.state == ConnectionState::kSmtpRelay ? room : 0; }

}  // namespace

void RegisterSmtpFront() {
  ProtocolHandlers handlers;
  handlers.clientInput = ClientInput;
  handlers.serverInput = ServerInput;
  handlers.clientInputEnded = ClientInputEnded;
  handlers.answerEnded = AnswerEnded;
  handlers.bypassRoom = BypassRoom;
  RegisterProtocolHandlers(kServiceSmtp, handlers);
}

}  // namespace brindlex
